#include "mainwindow.h"
#include "texts.h"

#include <QApplication>
#include <QIcon>

using namespace Qt::StringLiterals;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(Texts::applicationName);
    QApplication::setApplicationDisplayName(Texts::applicationName);
    // Ties the window to the installed desktop entry and its icon.
    QApplication::setDesktopFileName(u"olvex-updater"_s);
    QApplication::setWindowIcon(QIcon::fromTheme(u"olvex-updater"_s));
    MainWindow window;
    window.show();
    return QApplication::exec();
}
