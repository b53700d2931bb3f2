#pragma once

#include <QColor>
#include <QWidget>

/// A filled circle in one colour.
class StatusDot final : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QColor color READ color WRITE setColor FINAL)

public:
    explicit StatusDot(int diameter, QWidget *parent = nullptr);

    [[nodiscard]] QColor color() const { return m_color; }
    void setColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color;
};
