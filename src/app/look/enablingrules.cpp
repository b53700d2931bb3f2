#include "enablingrules.h"

#include <QApplication>
#include <QHash>
#include <QPointer>
#include <QWidget>

namespace {
/// Per control that lost focus by being disabled: the widget that took it.
QHash<const QWidget *, QPointer<QWidget>> &focusTakenBy()
{
    static QHash<const QWidget *, QPointer<QWidget>> taken;
    return taken;
}
} // namespace

void EnablingRules::apply(QWidget *control, bool enabled)
{
    if (control->isEnabled() == enabled)
        return;
    const bool focused = control->hasFocus();
    control->setEnabled(enabled);
    if (!enabled && focused) {
        // Focus passed on from a control disabled a moment before stays owed to that one.
        QHash<const QWidget *, QPointer<QWidget>> &taken = focusTakenBy();
        for (QPointer<QWidget> &taker : taken) {
            if (taker == control) {
                taker = QApplication::focusWidget();
                return;
            }
        }
        taken.insert(control, QApplication::focusWidget());
        QObject::connect(
            control, &QObject::destroyed, control, [control] { focusTakenBy().remove(control); },
            Qt::UniqueConnection);
    } else if (enabled) {
        const QPointer<QWidget> taker = focusTakenBy().take(control);
        if (taker && QApplication::focusWidget() == taker)
            control->setFocus(Qt::OtherFocusReason);
    }
}
