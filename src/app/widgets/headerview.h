#pragma once

#include <QWidget>

class FlashManager;

/// The program title on the left and the status badge on the right.
class HeaderView final : public QWidget
{
    Q_OBJECT

public:
    explicit HeaderView(FlashManager *manager, QWidget *parent = nullptr);
};
