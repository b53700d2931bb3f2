#include "statusdot.h"

#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int checkDiameter = 18;
} // namespace

StatusDot::StatusDot(int diameter, QWidget *parent) : QWidget(parent), m_diameter(diameter)
{
    setFixedSize(diameter, diameter);
}

void StatusDot::setRole(Style::Role role)
{
    if (m_role == role)
        return;
    m_role = role;
    update();
}

void StatusDot::setCheckMark(bool check)
{
    if (m_check == check)
        return;
    m_check = check;
    const int diameter = check ? std::max(m_diameter, checkDiameter) : m_diameter;
    setFixedSize(diameter, diameter);
    update();
}

void StatusDot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color());
    painter.drawEllipse(QRectF(rect()));
    if (!m_check)
        return;
    // In the window's own colour, which the dot's colour stands out from.
    const qreal s = width();
    QPainterPath check;
    check.moveTo(s * 0.28, s * 0.52);
    check.lineTo(s * 0.44, s * 0.68);
    check.lineTo(s * 0.73, s * 0.36);
    painter.setPen(QPen(Style::windowBackground(), s * 0.13, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(check);
}
