#pragma once

#include "flashmanager.h"

class QWidget;

/// When the window's buttons may be used. Every button waits while an operation runs.
namespace EnablingRules {
/// Choosing a zip, and refreshing the ports.
[[nodiscard]] inline bool whenIdle(const FlashManager &manager)
{
    return !manager.isBusy();
}

/// Connect, erase and reboot.
[[nodiscard]] inline bool withPort(const FlashManager &manager)
{
    return whenIdle(manager) && manager.selectedPort().has_value();
}

/// Both write buttons.
[[nodiscard]] inline bool withPortAndFirmware(const FlashManager &manager)
{
    return withPort(manager) && !manager.firmwareImages().isEmpty();
}

/// Enables or disables `control`. A control disabled while it has focus gets it back when it is
/// enabled again, while focus is still where Qt moved it: after a write, Space and Return act on
/// the write button again, not on the next one ("Detaylar").
void apply(QWidget *control, bool enabled);
} // namespace EnablingRules
