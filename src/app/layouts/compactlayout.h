#pragma once

class FirmwareZipBox;
class FlashManager;
class QWidget;

/// Fills `compact` with what an end user needs for an update: the status card, the guide, the
/// zip, the port, the progress and the write button. Returns the zip box, whose request for a
/// file the owner answers.
FirmwareZipBox *buildCompactLayout(QWidget *compact, FlashManager *manager);
