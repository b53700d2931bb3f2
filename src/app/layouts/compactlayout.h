#pragma once

class FirmwareZipBox;
class FlashManager;
class GuideView;
class MiddleScrollArea;
class QWidget;

/// The parts of the compact layout its owner works with.
struct CompactParts
{
    FirmwareZipBox *zipBox; ///< its request for a file is answered by the owner
    GuideView *guide;
    MiddleScrollArea *middle;
    QWidget *top;    ///< the status card
    QWidget *bottom; ///< the write button
};

/// Fills `compact` with what an end user needs for an update: the status card, the guide, the
/// zip, the port, the progress and the write button. The card stays on top and the progress and
/// the button at the bottom; what lies between scrolls when the window is short.
CompactParts buildCompactLayout(QWidget *compact, FlashManager *manager);
