#include "windowfixture.h"

#include "esptoolerror.h"

#include <QCoroSignal>

using namespace Qt::StringLiterals;

namespace {
QCoro::Task<> waitThenFail(Gate *gate, QString failure, bool fails)
{
    if (!gate->isOpen)
        co_await qCoro(gate, &Gate::opened);
    if (fails)
        throw Error(failure);
}

QCoro::Task<> failWith(EsptoolError error)
{
    throw error;
    co_return;
}
} // namespace

WindowFixture::WindowFixture(const SignaturePolicy &signatures)
    : m_window(std::make_unique<MainWindow>(m_folder.paths(), signatures))
{
}

WindowFixture::~WindowFixture()
{
    // A held operation must end before the controller that awaits it goes.
    if (m_window && manager()->isBusy() && !finish())
        qFatal("an operation outlived its test");
}

void WindowFixture::addPorts(const QStringList &names) const
{
    for (const QString &name : names)
        addFakePort(paths().deviceDirectory, name);
}

bool WindowFixture::open(const QStringList &ports, const QList<PortDetails> &details)
{
    addPorts(ports);
    manager()->setPortDetailsSource([details] { return details; });
    view()->setZipChooser([](QWidget *) -> std::optional<QUrl> {
        qWarning("unexpected zip chooser");
        return std::nullopt;
    });
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get()))
        return false;
    m_window->activateWindow();
    // The details are made once the first paint is done.
    return QTest::qWaitForWindowActive(m_window.get()) &&
           QTest::qWaitFor([this] { return m_window->findChild<QWidget *>(QStringLiteral("logView")); });
}

void WindowFixture::placeOn(QScreen *screen) const
{
    m_window->setScreen(screen);
    m_window->move(screen->availableGeometry().topLeft());
    m_window->resize(view()->startWindowSize());
}

bool WindowFixture::inView(const QString &name) const
{
    const QWidget *widget = find(name);
    const QWidget *viewport = find<QScrollArea>(u"contentScrollArea"_s)->viewport();
    const QRect shown(widget->mapTo(viewport, QPoint()), widget->size());
    return widget->isVisible() && viewport->rect().contains(shown) &&
           m_window->screen()->availableGeometry().contains(m_window->frameGeometry());
}

QString WindowFixture::text(const QString &name) const
{
    return find(name)->property("text").toString();
}

bool WindowFixture::loadFirmware() const
{
    const QString zip = m_folder.root() + u"/olvex-1.2.zip"_s;
    makeZip(zip, {{u"olvex.ino.bootloader.bin"_s, QByteArray(4096, 'b')},
                  {u"olvex.ino.partitions.bin"_s, QByteArray(3072, 'p')},
                  {u"boot_app0.bin"_s, QByteArray(8192, 'o')},
                  {u"olvex.ino.bin"_s, QByteArray(16384, 'a')}});
    view()->setZipChooser([zip](QWidget *) { return std::optional(QUrl::fromLocalFile(zip)); });
    view()->chooseFirmwareZip();
    if (manager()->firmwareImages().size() != 4)
        qWarning("%s", qPrintable(manager()->statusDetail()));
    return manager()->firmwareImages().size() == 4;
}

void WindowFixture::hold(Status status, const QString &detail, const QString &failure, bool fails)
{
    m_gate.isOpen = false;
    manager()->runOperation(status, detail,
                            [gate = &m_gate, failure, fails] { return waitThenFail(gate, failure, fails); });
}

bool WindowFixture::finish()
{
    m_gate.isOpen = true;
    Q_EMIT m_gate.opened();
    return QTest::qWaitFor([this] { return !manager()->isBusy(); });
}

void WindowFixture::fail(Status status, const QString &output) const
{
    const auto failure = EsptoolError::failed(2, output);
    manager()->runOperation(status, u"Bağlanıyor"_s, [failure] { return failWith(failure); });
    QTRY_COMPARE(manager()->status(), Status::error);
}

void WindowFixture::switchLayout(bool details) const
{
    if (view()->showDetails() != details)
        find<QPushButton>(u"detailsToggle"_s)->click();
    QTRY_COMPARE(view()->minimumSize(),
                 details ? ContentView::detailsMinimumSize : ContentView::compactMinimumSize);
}

void WindowFixture::saveRender(const QString &name) const
{
    // Made writable for the unprivileged test user by the build.
    const QString path = QStringLiteral(OLVEX_RENDER_DIR) + u'/' + name;
    QFile::remove(path);
    QVERIFY2(m_window->grab().save(path), qPrintable(path));
}

QPalette WindowFixture::darkPalette()
{
    QPalette dark;
    for (const auto &[role, color] : {std::pair{QPalette::Window, 0x2a2e32},
                                      {QPalette::WindowText, 0xfcfcfc},
                                      {QPalette::Base, 0x1b1e20},
                                      {QPalette::Text, 0xfcfcfc},
                                      {QPalette::Button, 0x31363b},
                                      {QPalette::ButtonText, 0xfcfcfc},
                                      {QPalette::Highlight, 0x3daee9},
                                      {QPalette::HighlightedText, 0xfcfcfc}})
        dark.setColor(role, QColor::fromRgb(QRgb(color)));
    return dark;
}
