#pragma once

#include <QScrollArea>

/// The middle of a layout (the guide, the zip and the port; in the details, the boxes): it asks
/// for the height of all it holds, but gives way, scrolling, as far as to nothing when the window
/// is too short, so that what is above and below it stays in view. It comes with its content, an
/// empty widget to fill: given to the area while empty, it is measured once, when shown, at its
/// real width.
class MiddleScrollArea final : public QScrollArea
{
    Q_OBJECT

public:
    MiddleScrollArea(const QString &name, QWidget *parent);

    /// The height its content needs at `width`.
    [[nodiscard]] int contentHeight(int width) const;
    /// The height that shows all the content when the area is `width` wide: beside the scroll
    /// bar while that shows, since the bar goes only once the content fits there.
    [[nodiscard]] int heightToShowAll(int width) const;

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
};
