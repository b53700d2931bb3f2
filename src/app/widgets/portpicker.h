#pragma once

#include <QComboBox>

class FlashManager;

/// The port choice, bound both ways to the controller's selected port: "— Port seçin —" for
/// none, then one entry per port. Choosing an entry only sets the selection.
class PortPicker final : public QComboBox
{
    Q_OBJECT

public:
    enum class Display { name, path };

    PortPicker(FlashManager *manager, Display display, QWidget *parent = nullptr);

private:
    void updatePorts();
    void updateSelection();
    void choose(int index);

    FlashManager *m_manager;
    Display m_display;
};
