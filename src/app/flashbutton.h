#pragma once

#include <QPushButton>

class FlashManager;

/// The compact layout's large "Firmware Yükle" button, accent-filled, with a download symbol;
/// Return presses it while it is enabled and visible.
class FlashButton final : public QPushButton
{
    Q_OBJECT

public:
    explicit FlashButton(FlashManager *manager, QWidget *parent = nullptr);

private:
    void updateEnabled();
    void updateLook();

    FlashManager *m_manager;
};
