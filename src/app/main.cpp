#include "mainwindow.h"
#include "texts.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(Texts::applicationName);
    QApplication::setApplicationDisplayName(Texts::applicationName);
    MainWindow window;
    window.show();
    return QApplication::exec();
}
