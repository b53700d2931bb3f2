#pragma once

#include "packagesignature.h"
#include "platformpaths.h"

#include <QSize>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

class FlashManager;
class GuideView;
class LogPanel;
class MiddleScrollArea;
class QLabel;
class QPropertyAnimation;
class QPushButton;
class QScrollArea;

/// The window's content: owns the one controller of the run and switches between the compact
/// layout for an update and the details layout with every operation and the log.
class ContentView final : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool showDetails READ showDetails WRITE setShowDetails NOTIFY showDetailsChanged FINAL)

public:
    /// Asks the user for a firmware zip; nothing when cancelled.
    using ZipChooser = std::function<std::optional<QUrl>(QWidget *parent)>;

    /// Smallest size of the compact and the details layout, and their preferred widths.
    static constexpr QSize compactMinimumSize{480, 520};
    static constexpr QSize detailsMinimumSize{820, 640};
    static constexpr int compactIdealWidth = 520;
    static constexpr int detailsIdealWidth = 860;
    static constexpr QSize startSize{520, 580};
    /// Beyond these widths the content stops growing and stays centred, so that lines stay
    /// short enough to read on a wide window.
    static constexpr int compactMaximumWidth = 680;
    static constexpr int detailsMaximumWidth = 1180;

    explicit ContentView(QWidget *parent = nullptr);
    explicit ContentView(PlatformPaths paths, SignaturePolicy signatures = SignaturePolicy::builtIn(),
                         QWidget *parent = nullptr);
    ~ContentView() override;

    [[nodiscard]] FlashManager *manager() const { return m_manager; }

    [[nodiscard]] bool showDetails() const { return m_showDetails; }
    void setShowDetails(bool show);

    void setZipChooser(ZipChooser chooser);
    /// The file dialog the program uses by default.
    [[nodiscard]] static std::optional<QUrl> chooseWithDialog(QWidget *parent);
    /// Asks for a zip and loads it; a cancelled choice changes nothing.
    void chooseFirmwareZip();

    /// The window size to open with: the start size, taller when the content needs it to show
    /// everything, within the screen.
    [[nodiscard]] QSize startWindowSize() const;

    [[nodiscard]] QSize sizeHint() const override;

    /// Says why the window stays open while an operation runs; the notice goes when it ends.
    void explainRefusedClose();

Q_SIGNALS:
    void showDetailsChanged();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    /// Between the window's edges and its content.
    static constexpr int contentPadding = 20;
    /// The height the content needs at `width`, everything shown in full.
    [[nodiscard]] int contentHeight(int width) const;
    [[nodiscard]] int middleWidth(int width) const;
    [[nodiscard]] int besideScrollBar(int width) const;
    [[nodiscard]] QSize availableScreenSize() const;
    /// Makes the details layout and its log panel, once.
    void buildDetails();
    /// What the first paint does not need: the port scan and the details.
    void finishStart();
    void applyMinimumSize();
    void resizeWindowForLayout();
    void fitToContent();
    void updateGuideFold();
    void keepOutcomeInView();

    FlashManager *m_manager;
    bool m_showDetails = false;
    bool m_appeared = false;
    bool m_painted = false;
    bool m_fitQueued = false;
    bool m_refreshQueued = false;
    ZipChooser m_chooser;
    QScrollArea *m_scrollArea;
    QWidget *m_root;
    QWidget *m_compact;
    GuideView *m_guide = nullptr;
    MiddleScrollArea *m_middle = nullptr;
    MiddleScrollArea *m_detailsMiddle = nullptr; // made with the rest of the details
    QWidget *m_outcome = nullptr;
    QWidget *m_writeButton = nullptr;
    QWidget *m_details;
    LogPanel *m_logPanel = nullptr; // with the rest of the details, made after the first paint
    QPushButton *m_toggle;
    QLabel *m_closeNotice;
    QPropertyAnimation *m_resize;
    QSize m_compactWindowSize;
    int m_fittedHeight = -1;  // the height the content, or a switch of layout, last gave the window
    bool m_userSized = false; // the user chose a height: the content scrolls rather than resizing it
};
