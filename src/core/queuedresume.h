#pragma once

#include <QMetaObject>
#include <QObject>

#include <coroutine>

/// `co_await queuedResume(context)` suspends the coroutine and resumes it from the event
/// loop of `context`'s thread, after every job already queued there. Used where work that
/// was queued earlier (a progress report, a log append) must land before the coroutine
/// goes on.
inline auto queuedResume(QObject *context)
{
    struct Awaiter
    {
        QObject *context;
        [[nodiscard]] bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) const
        {
            QMetaObject::invokeMethod(
                context, [handle] { handle.resume(); }, Qt::QueuedConnection);
        }
        void await_resume() const noexcept {}
    };
    return Awaiter{context};
}
