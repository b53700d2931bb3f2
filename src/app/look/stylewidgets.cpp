#include "style.h"

#include <QPalette>
#include <QPushButton>
#include <QWidget>

namespace Style {
QPushButton *button(const QString &text, QWidget *parent, const QString &otherText)
{
    constexpr int extraRoom = 14;
    auto *button = new QPushButton(otherText, parent);
    const int otherWidth = otherText.isEmpty() ? 0 : button->sizeHint().width();
    button->setText(text);
    button->setMinimumWidth(qMax(otherWidth, button->sizeHint().width()) + extraRoom);
    return button;
}

namespace {
const char *const roleProperty = "olvexTextRole";
} // namespace

void setTextColor(QWidget *widget, Role role)
{
    widget->setProperty(roleProperty, int(role));
    const QColor color = Style::color(role);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

void refresh(QWidget *root)
{
    for (QWidget *widget : root->findChildren<QWidget *>()) {
        if (const QVariant role = widget->property(roleProperty); role.isValid())
            setTextColor(widget, Role(role.toInt()));
        // Widgets that build their look from the colours (style sheets, symbols) say so.
        if (widget->metaObject()->indexOfMethod("updateLook()") >= 0)
            QMetaObject::invokeMethod(widget, "updateLook");
        widget->update();
    }
}

QColor textColor(const QWidget *widget)
{
    return widget->palette().color(QPalette::WindowText);
}
} // namespace Style
