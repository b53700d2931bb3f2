#include "accessibility.h"

#include "linelimitedlabel.h"

#include <QAccessibleWidget>
#include <QComboBox>
#include <QLayout>
#include <QScrollArea>

using namespace Qt::StringLiterals;

namespace {
/// A painted text, read as the whole text even where the label shows it cut short.
class LineLimitedLabelAccessible final : public QAccessibleWidget
{
public:
    explicit LineLimitedLabelAccessible(LineLimitedLabel *label)
        : QAccessibleWidget(label, QAccessible::StaticText)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<const LineLimitedLabel *>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

/// A port picker read by its name ("USB Portu") with the chosen port as its value: Qt's own
/// interface gives the chosen port as the name on Linux, where the name is meant to come
/// from a label the picker does not have.
class PortPickerAccessible final : public QAccessibleWidget
{
public:
    explicit PortPickerAccessible(QComboBox *picker) : QAccessibleWidget(picker, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return static_cast<const QComboBox *>(widget())->currentText();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface *factory(const QString &className, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget)
        return nullptr;
    if (className == u"PortPicker"_s)
        return new PortPickerAccessible(static_cast<QComboBox *>(widget));
    if (className == u"LineLimitedLabel"_s)
        return new LineLimitedLabelAccessible(static_cast<LineLimitedLabel *>(widget));
    // Qt 6.4's own interface lists the scroll bars only while they show and indexes that list
    // unchecked: a client asking by an index it got before a bar went away reads past its end.
    // The plain widget interface lists every child, shown or not, and checks the index.
    if (className == u"QScrollArea"_s || className == u"QAbstractScrollArea"_s)
        return new QAccessibleWidget(widget, QAccessible::Client);
    return nullptr;
}

void collectWidgets(QLayout *layout, QList<QWidget *> &widgets)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (QWidget *widget = item->widget())
            widgets.append(widget);
        else if (QLayout *inner = item->layout())
            collectWidgets(inner, widgets);
    }
}
} // namespace

void installAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
}

void followLayoutOrder(QWidget *root)
{
    QList<QWidget *> containers{root};
    containers += root->findChildren<QWidget *>();
    for (QWidget *container : std::as_const(containers)) {
        if (!container->layout())
            continue;
        QList<QWidget *> ordered;
        collectWidgets(container->layout(), ordered);
        // Raising moves a child to the end of its parent's list, which is the order read.
        for (QWidget *widget : std::as_const(ordered))
            if (widget->parentWidget() == container)
                widget->raise();
    }
}
