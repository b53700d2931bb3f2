#include "mainwindow.h"

#include "contentview.h"
#include "flashmanager.h"

#include <QCloseEvent>

MainWindow::MainWindow(PlatformPaths paths, QWidget *parent)
    : QMainWindow(parent), m_contentView(new ContentView(std::move(paths), this))
{
    setCentralWidget(m_contentView);
    resize(m_contentView->startWindowSize());
}

// Closing the last window ends the program, and with it the tool: a write cut off halfway
// leaves the device without working firmware. The window stays until the operation ends.
void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_contentView->manager()->isBusy()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}
