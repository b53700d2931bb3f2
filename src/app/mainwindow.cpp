#include "mainwindow.h"

#include "contentview.h"

MainWindow::MainWindow(PlatformPaths paths, QWidget *parent)
    : QMainWindow(parent), m_contentView(new ContentView(std::move(paths), this))
{
    setCentralWidget(m_contentView);
    resize(m_contentView->startWindowSize());
}
