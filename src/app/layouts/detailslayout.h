#pragma once

class ActionRow;
class FlashManager;
class LogPanel;
class QWidget;

/// Fills `details` with every operation: the device and the port beside the files found in the
/// zip, the action row, the progress and `logPanel` (already a child of `details`). Returns the
/// action row, whose request for a file the owner answers.
ActionRow *buildDetailsLayout(QWidget *details, FlashManager *manager, LogPanel *logPanel);
