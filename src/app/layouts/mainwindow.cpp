#include "mainwindow.h"

#include "contentview.h"
#include "flashmanager.h"

#include "texts.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

using namespace Qt::StringLiterals;

MainWindow::MainWindow(PlatformPaths paths, SignaturePolicy signatures, QWidget *parent)
    : QMainWindow(parent), m_contentView(new ContentView(std::move(paths), std::move(signatures), this))
{
    setCentralWidget(m_contentView);
    setAccessibleName(Texts::applicationName);
    resize(m_contentView->startWindowSize());
}

// Closing the last window ends the program, and with it the tool: a write cut off halfway
// leaves the device without working firmware. The window stays until the operation ends.
void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_contentView->manager()->isBusy()) {
        m_contentView->explainRefusedClose();
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void MainWindow::setUpApplication()
{
    QApplication::setApplicationName(Texts::applicationName);
    QApplication::setApplicationDisplayName(Texts::applicationName);
    // Ties the window to the installed desktop entry and its icon.
    QApplication::setDesktopFileName(u"olvex-updater"_s);
    QApplication::setWindowIcon(QIcon::fromTheme(u"olvex-updater"_s));
    // The window is Turkish: Qt's own dialogs, menus and buttons are made Turkish too.
    auto *translations = new QTranslator(qApp);
    if (translations->load(u"qtbase_tr"_s, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translations);
    else
        delete translations;
}
