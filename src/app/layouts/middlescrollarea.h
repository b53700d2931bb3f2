#pragma once

#include <QScrollArea>

/// The middle of the compact layout (the guide, the zip and the port): it asks for the height of
/// all it holds, but gives way, scrolling, as far as to nothing when the window is too short, so
/// that the status above it and the write button below it stay in view.
class MiddleScrollArea final : public QScrollArea
{
    Q_OBJECT

public:
    explicit MiddleScrollArea(QWidget *parent = nullptr);

    /// The height its content needs at `width`.
    [[nodiscard]] int contentHeight(int width) const;

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
};
