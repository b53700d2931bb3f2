#include "accessibility.h"

#include "linelimitedlabel.h"

#include <QAccessibleWidget>
#include <QAbstractButton>
#include <QAbstractItemView>
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

/// A port picker read by its name ("USB Portu") with the chosen port, and what the system says
/// of it, as its value and description: Qt's own interface gives the chosen port as the name
/// on Linux, where the name is meant to come from a label the picker does not have, and Qt 6.4's
/// AT-SPI bridge passes no value on. Its list of ports is its one child, as in Qt's own.
class PortPickerAccessible final : public QAccessibleWidget
{
public:
    explicit PortPickerAccessible(QComboBox *picker) : QAccessibleWidget(picker, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override
    {
        const QComboBox *picker = static_cast<const QComboBox *>(widget());
        if (t == QAccessible::Value)
            return picker->currentText();
        if (t == QAccessible::Description) {
            const QString details = picker->currentData(Qt::AccessibleDescriptionRole).toString();
            return details.isEmpty() ? picker->currentText() : picker->currentText() + u", "_s + details;
        }
        return QAccessibleWidget::text(t);
    }

    int childCount() const override { return 1; }
    QAccessibleInterface *child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(static_cast<QComboBox *>(widget())->view())
                          : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child && child->object() == static_cast<QComboBox *>(widget())->view() ? 0 : -1;
    }
};

const char foldSwitchProperty[] = "olvexFoldSwitch";

/// A checkable button that opens and folds a section.
class FoldSwitchAccessible final : public QAccessibleWidget
{
public:
    explicit FoldSwitchAccessible(QAbstractButton *button) : QAccessibleWidget(button, QAccessible::Button) {}

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        const bool open = static_cast<const QAbstractButton *>(widget())->isChecked();
        state.checkable = state.checked = false;
        state.expandable = true;
        state.expanded = open;
        state.collapsed = !open;
        return state;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &name) override
    {
        if (name == pressAction())
            static_cast<QAbstractButton *>(widget())->click();
    }
};

QAccessibleInterface *factory(const QString &className, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget)
        return nullptr;
    if (className == u"PortPicker"_s)
        return new PortPickerAccessible(static_cast<QComboBox *>(widget));
    if (widget->property(foldSwitchProperty).toBool())
        return new FoldSwitchAccessible(static_cast<QAbstractButton *>(widget));
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

void readAsFoldSwitch(QAbstractButton *button)
{
    button->setProperty(foldSwitchProperty, true);
    // An interface made before the mark (a text set while a reader listens makes one) is Qt's
    // check box: made again, it is ours.
    if (QAccessibleInterface *made = QAccessible::queryAccessibleInterface(button);
        made && made->role() != QAccessible::Button)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    QObject::connect(button, &QAbstractButton::toggled, button, [button] {
        QAccessible::State changed;
        changed.expanded = changed.collapsed = true;
        QAccessibleStateChangeEvent event(button, changed);
        QAccessible::updateAccessibility(&event);
    });
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
