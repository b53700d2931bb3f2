#pragma once

#include "style.h"

#include <QColor>
#include <QWidget>

/// A filled circle in the colour of a role, with a check mark in it once something succeeded.
class StatusDot final : public QWidget
{
    Q_OBJECT

public:
    explicit StatusDot(int diameter, QWidget *parent = nullptr);

    /// The colour the role has in the current palette.
    [[nodiscard]] QColor color() const { return Style::color(m_role); }
    void setRole(Style::Role role);
    [[nodiscard]] bool hasCheckMark() const { return m_check; }
    /// A check mark needs more room than the plain dot: the dot grows while it shows one.
    void setCheckMark(bool check);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_diameter;
    Style::Role m_role = Style::Role::green;
    bool m_check = false;
};
