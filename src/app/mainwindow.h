#pragma once

#include "platformpaths.h"

#include <QMainWindow>

class ContentView;

/// The program's one window; its content is the ContentView.
class MainWindow final : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(PlatformPaths paths = PlatformPaths::system(), QWidget *parent = nullptr);

    [[nodiscard]] ContentView *contentView() const { return m_contentView; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    ContentView *m_contentView;
};
