#pragma once

#include <QPushButton>

class FlashManager;

/// The compact layout's large "Firmware Yükle" button, accent-filled, with a download symbol;
/// Return presses it while it is enabled and visible and focus is not on another button.
class FlashButton final : public QPushButton
{
    Q_OBJECT

public:
    explicit FlashButton(FlashManager *manager, QWidget *parent = nullptr);

    /// Fill, label and focus ring in the colours of the current palette.
    Q_INVOKABLE void updateLook();

private:
    void updateEnabled();

    FlashManager *m_manager;
};
