#pragma once

class QAbstractButton;
class QWidget;

/// The window's own accessibility interfaces, installed once per program: the texts that our
/// widgets paint themselves, and a scroll area that answers any child index a client asks for.
void installAccessibility();

/// Orders the children of `root` and of every widget below it that has a layout as the layout
/// places them, so that a screen reader reads them in the order they are seen.
void followLayoutOrder(QWidget *root);

/// Makes the checkable `button` read as a button that expands and collapses a section (open
/// while checked), not as a check box; its state changes are announced.
void readAsFoldSwitch(QAbstractButton *button);
