#pragma once

#include "packagesignature.h"
#include "platformpaths.h"

#include <QMainWindow>

class ContentView;

/// The program's one window; its content is the ContentView.
class MainWindow final : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(PlatformPaths paths = PlatformPaths::system(),
                        SignaturePolicy signatures = SignaturePolicy::builtIn(), QWidget *parent = nullptr);

    [[nodiscard]] ContentView *contentView() const { return m_contentView; }

    /// What the running application needs before its window: names, icon, Qt's Turkish texts.
    static void setUpApplication();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    ContentView *m_contentView;
};
