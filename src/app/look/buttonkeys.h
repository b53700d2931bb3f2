#pragma once

class QWidget;

/// Return and Enter press the focused button, as Space does, the way desktop Linux programs
/// behave; they reach it before any shortcut of the window, so the write's Return never fires
/// while focus is on another button.
namespace ButtonKeys {
/// Applies to every button under `root` at the time of the call.
void install(QWidget *root);
} // namespace ButtonKeys
