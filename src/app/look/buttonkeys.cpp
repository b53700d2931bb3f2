#include "buttonkeys.h"

#include <QAbstractButton>
#include <QKeyEvent>

namespace {
class ReturnPressesButton final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::ShortcutOverride && type != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        if (!plain || (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter))
            return false;
        auto *button = static_cast<QAbstractButton *>(watched);
        // Accepting the override keeps the key from the shortcuts and hands it to the button.
        event->accept();
        if (type == QEvent::KeyPress && button->isEnabled())
            button->animateClick();
        return true;
    }
};
} // namespace

namespace ButtonKeys {
void install(QWidget *root)
{
    auto *filter = new ReturnPressesButton(root);
    for (QAbstractButton *button : root->findChildren<QAbstractButton *>())
        button->installEventFilter(filter);
}
} // namespace ButtonKeys
