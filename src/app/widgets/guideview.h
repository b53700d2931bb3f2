#pragma once

#include <QGroupBox>

/// "Ne yapmalısınız?": the numbered steps of an update, in the compact layout.
class GuideView final : public QGroupBox
{
    Q_OBJECT

public:
    explicit GuideView(QWidget *parent = nullptr);
};
