#pragma once

#include <exception>

/// Thrown inside an operation whose task was asked to stop.
class OperationCancelled final : public std::exception
{
public:
    [[nodiscard]] const char *what() const noexcept override { return "operation cancelled"; }
};

/// Handle of one device operation's task. Cancellation is a request the operation sees at
/// its next check; it never stops a running tool.
class OperationHandle final
{
public:
    void cancel() { m_cancelled = true; }
    [[nodiscard]] bool isCancelled() const { return m_cancelled; }
    [[nodiscard]] bool isFinished() const { return m_finished; }
    /// Throws OperationCancelled when cancellation was requested.
    void checkCancellation() const;

private:
    friend class FlashManager;
    bool m_cancelled = false;
    bool m_finished = false;
};
