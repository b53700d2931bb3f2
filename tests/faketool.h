#pragma once

// Helpers for tests and benchmarks that run the esptool runner, or the controller, against
// fake `esptool` scripts written into a temporary folder.

#include "esptoolrunner.h"
#include "logger.h"
#include "platformpaths.h"

#include <QByteArray>
#include <QCoroTask>
#include <QEventLoop>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <exception>
#include <memory>
#include <optional>
#include <type_traits>

/// The beginning of every fake tool: appends "--- run" and its arguments, one a line, to
/// "$TMPDIR/runs" (so the file is written only when the tool ran with the runner's TMPDIR).
inline constexpr char fakeToolPrelude[] =
    "#!/bin/sh\n{ echo '--- run'; printf '%s\\n' \"$@\"; } >> \"$TMPDIR/runs\"\n";

/// A fake tool's step that waits until FakeToolFolder::openGate(). The wait is bounded so
/// that a failed test leaves no tool behind; a tool that was never let go exits 99.
inline constexpr char waitForGate[] = "i=0; while [ ! -e \"$TMPDIR/go\" ] && [ $i -lt 1500 ]; do sleep 0.01; "
                                      "i=$((i+1)); done\n[ -e \"$TMPDIR/go\" ] || exit 99\n";

/// What esptool 5 prints to a pipe for the chip query (the port varies).
inline constexpr char chipIdOutput[] = R"(esptool v5.3.1
Serial port /dev/ttyACM0:
Connecting....
Connected to ESP32-S3 on /dev/ttyACM0:
Chip type:          ESP32-S3 (QFN56) (revision v0.2)
Features:           Wi-Fi, BT 5 (LE), Dual Core + LP Core, 240MHz, Embedded PSRAM 8MB (AP_3v3)
Crystal frequency:  40MHz
USB mode:           USB-Serial/JTAG
MAC:                7c:df:a1:00:11:22

Uploading stub flasher...
Running stub flasher...
Stub flasher running.
Changing baud rate to 921600...
Changed.

Warning: ESP32-S3 has no chip ID. Reading MAC address instead.
MAC:                7c:df:a1:00:11:22

Hard resetting via RTS pin...
)";

/// A fake tool's step that prints lines `first` to `last`, each `format` with its number.
QByteArray awkLines(int first, int last, const QByteArray &format);

/// A temporary root with resource, home, temporary and device folders.
class FakeToolFolder
{
public:
    /// `nameTemplate` as QTemporaryDir takes it; empty for the default.
    explicit FakeToolFolder(const QString &nameTemplate = {});

    [[nodiscard]] bool isValid() const { return m_dir->isValid(); }
    [[nodiscard]] QString root() const { return m_dir->path(); }
    [[nodiscard]] const PlatformPaths &paths() const { return m_paths; }

    /// Writes `fakeToolPrelude` + `body` as the resource folder's esptool, the first one looked for.
    void installTool(const QByteArray &body) const;
    /// Writes a file at an absolute path, creating its folders.
    static void writeScript(const QString &path, const QByteArray &content, bool executable = true);

    /// The argument lists of the fake tool's runs, oldest first.
    [[nodiscard]] QList<QStringList> runs() const;
    /// The arguments of the last run, or nothing when no tool ran.
    [[nodiscard]] std::optional<QStringList> recordedArguments() const;
    /// The contents of a file in the temporary folder the runner gives the tool.
    [[nodiscard]] QByteArray temporaryFile(const QString &name) const;
    /// Lets a tool waiting in `waitForGate` go on.
    void openGate() const;

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    PlatformPaths m_paths;
};

/// A fake tool made of `body`, and a runner over it with a log of its own.
struct FakeToolRun
{
    explicit FakeToolRun(const QByteArray &body) { folder.installTool(body); }

    FakeToolFolder folder;
    Logger logger;
    EsptoolRunner runner{&logger, folder.paths()};
};

/// Sets (or, given a null value, unsets) an environment variable for the life of the object,
/// then restores it.
class EnvironmentOverride
{
public:
    EnvironmentOverride(const char *name, const QByteArray &value);
    ~EnvironmentOverride();
    EnvironmentOverride(const EnvironmentOverride &) = delete;
    EnvironmentOverride &operator=(const EnvironmentOverride &) = delete;

private:
    const char *m_name;
    bool m_wasSet;
    QByteArray m_previous;
};

/// How an awaited task ended: its value, or the exception it threw.
template <typename T> struct Outcome
{
    bool done = false;
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> value{};
    std::exception_ptr error;

    /// The thrown exception as `E`, or nothing when it is not one (or nothing was thrown).
    template <typename E> [[nodiscard]] std::optional<E> errorAs() const
    {
        if (!error)
            return std::nullopt;
        try {
            std::rethrow_exception(error);
        } catch (const E &e) {
            return e;
        } catch (...) {
        }
        return std::nullopt;
    }
};

namespace detail {
template <typename T> QCoro::Task<> settle(QCoro::Task<T> task, Outcome<T> *outcome, QEventLoop *loop)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            outcome->value = true;
        } else {
            outcome->value = co_await std::move(task);
        }
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->done = true;
    loop->quit();
}
[[noreturn]] void taskTimedOut();
} // namespace detail

/// Runs the event loop until `task` ends; aborts the test program after `timeoutMs`
/// (a task still waiting then would later write into a finished frame).
template <typename T> Outcome<T> awaitTask(QCoro::Task<T> task, int timeoutMs = 30'000)
{
    Outcome<T> outcome;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, [] { detail::taskTimedOut(); });
    timeout.start(timeoutMs);
    auto settling = detail::settle(std::move(task), &outcome, &loop);
    if (!outcome.done)
        loop.exec();
    return outcome;
}
