#pragma once

class ActionRow;
class FlashManager;
class LogPanel;
class MiddleScrollArea;
class QWidget;

/// The parts of the details layout its owner works with.
struct DetailsParts
{
    ActionRow *actions;       // whose request for a file the owner answers
    MiddleScrollArea *middle; // the device and the port beside the files: scrolls on a short screen
};

/// Fills `details` with every operation: the device and the port beside the files found in the
/// zip, the action row, the progress and `logPanel` (already a child of `details`).
DetailsParts buildDetailsLayout(QWidget *details, FlashManager *manager, LogPanel *logPanel);
