#pragma once

// One window of the program over a fake device folder, a fake tool and fake port details, for
// the tests of the window. Each test makes a fresh one.

#include "contentview.h"
#include "faketool.h"
#include "flashmanager.h"
#include "mainwindow.h"
#include "portdetails.h"
#include "testsupport.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QListView>
#include <QPalette>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTest>

#include <algorithm>
#include <memory>

/// Holds a device operation started by WindowFixture::hold() until the test lets it end.
class Gate : public QObject
{
    Q_OBJECT
public:
    bool isOpen = false;
Q_SIGNALS:
    void opened();
};

class WindowFixture
{
public:
    using Status = FlashManager::OperationStatus;

    explicit WindowFixture(const SignaturePolicy &signatures = SignaturePolicy::builtIn());
    ~WindowFixture();
    WindowFixture(const WindowFixture &) = delete;
    WindowFixture &operator=(const WindowFixture &) = delete;

    [[nodiscard]] const PlatformPaths &paths() const { return m_folder.paths(); }
    [[nodiscard]] const FakeToolFolder &folder() const { return m_folder; }
    [[nodiscard]] MainWindow *window() const { return m_window.get(); }
    [[nodiscard]] ContentView *view() const { return m_window->contentView(); }
    [[nodiscard]] FlashManager *manager() const { return view()->manager(); }

    /// Serial ports in the fake device folder; the window lists them when it first shows.
    void addPorts(const QStringList &names) const;
    /// A fake esptool in the resource folder: the runs are recorded, then `body` runs.
    void installTool(const QByteArray &body) const { m_folder.installTool(body); }
    /// Adds `ports`, then shows the window, active; the ports are described by `details` alone.
    /// A zip chooser that is not expected to be asked warns.
    [[nodiscard]] bool open(const QStringList &ports = {}, const QList<PortDetails> &details = {});
    /// Opens the window on `screen` from then on, at the size it starts with there.
    void placeOn(QScreen *screen) const;
    /// Opens the window over one port, ttyACM0, with the firmware loaded.
    [[nodiscard]] bool openReady() { return open({QStringLiteral("ttyACM0")}) && loadFirmware(); }

    /// The widget of the window called `name`; the test program stops when there is none.
    template <typename T = QWidget> [[nodiscard]] T *find(const QString &name) const
    {
        T *widget = m_window->findChild<T *>(name);
        if (!widget)
            qFatal("no widget named %s", qPrintable(name));
        return widget;
    }
    /// What the widget called `name` shows (plain and line-limited labels alike).
    [[nodiscard]] QString text(const QString &name) const;

    /// Chooses a zip of an Arduino build through the window; false when it did not load.
    [[nodiscard]] bool loadFirmware() const;
    /// Starts a device operation that runs as `status` until finish(), then fails with
    /// `failure` when `fails`.
    void hold(Status status, const QString &detail, const QString &failure = {}, bool fails = false);
    /// Lets the held operation end; false when the controller stays busy.
    [[nodiscard]] bool finish();
    /// A device operation that fails at once with the tool's `output`.
    void fail(Status status, const QString &output) const;
    /// Shows the details or the compact layout and waits until the window has switched.
    void switchLayout(bool details) const;
    /// Whether the widget called `name` lies whole inside the part of the window in view.
    [[nodiscard]] bool inView(const QString &name) const;
    /// Saves a picture of the window into the build tree's renders folder.
    void saveRender(const QString &name) const;

    /// The usual dark desktop theme, whose light blue accent fails a white label.
    [[nodiscard]] static QPalette darkPalette();

private:
    FakeToolFolder m_folder;
    Gate m_gate;
    std::unique_ptr<MainWindow> m_window;
};
