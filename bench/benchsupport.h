#pragma once

// What the benchmarks of the runner and of the device operations share.

#include "faketool.h"
#include "flashmanager.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <algorithm>

/// The largest gap between ticks of a 5 ms timer while it runs.
class StallMeter final
{
public:
    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
        m_clock.start();
        m_last = 0;
        m_timer.start(5);
    }
    /// Stops, counting the time since the last tick too.
    qint64 stop()
    {
        tick();
        m_timer.stop();
        return m_longest;
    }

private:
    void tick()
    {
        const qint64 now = m_clock.elapsed();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

/// Loads the build files of an ESP32-S3 sketch, zipped, into `manager`.
inline bool loadFirmware(FlashManager &manager, const FakeToolFolder &folder)
{
    const QString zip = folder.root() + QStringLiteral("/firmware.zip");
    makeZip(zip, esp32s3Build());
    manager.loadFirmware(QUrl::fromLocalFile(zip));
    return manager.firmwareImages().size() == 4;
}

/// A port that exists, selected: the controller looks at it before the tool runs.
inline void selectFakePort(FlashManager &manager, const FakeToolFolder &folder)
{
    const QString port = addFakePort(folder.paths().deviceDirectory, QStringLiteral("ttyACM0"));
    manager.setSelectedPort(SerialPortInfo{port, port, QStringLiteral("ttyACM0")});
}

/// Runs the event loop until `manager` is no longer busy, at most `timeoutMs`. An event loop of
/// its own: QTest::qWaitFor sleeps 10 ms between its turns, which would show up as stalls.
inline void waitUntilIdle(FlashManager &manager, int timeoutMs)
{
    if (!manager.isBusy())
        return;
    QEventLoop loop;
    QObject::connect(&manager, &FlashManager::isBusyChanged, &loop, [&manager, &loop] {
        if (!manager.isBusy())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
}
