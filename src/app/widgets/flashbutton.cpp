#include "flashbutton.h"

#include "enablingrules.h"
#include "flashmanager.h"
#include "style.h"
#include "texts.h"

#include <QPainter>
#include <QPainterPath>

using namespace Qt::StringLiterals;

namespace {
constexpr int symbolSize = 16;

/// A filled circle with a down arrow cut out of it, in `color`.
QPixmap downloadSymbol(const QColor &color, qreal devicePixelRatio)
{
    QPixmap pixmap(QSize(symbolSize, symbolSize) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = symbolSize;
    QPainterPath circle;
    circle.addEllipse(QRectF(0.5, 0.5, s - 1, s - 1));
    QPainterPath arrow;
    arrow.moveTo(s * 0.44, s * 0.24);
    arrow.lineTo(s * 0.56, s * 0.24);
    arrow.lineTo(s * 0.56, s * 0.52);
    arrow.lineTo(s * 0.70, s * 0.52);
    arrow.lineTo(s * 0.50, s * 0.76);
    arrow.lineTo(s * 0.30, s * 0.52);
    arrow.lineTo(s * 0.44, s * 0.52);
    arrow.closeSubpath();
    painter.fillPath(circle.subtracted(arrow), color);
    return pixmap;
}
} // namespace

FlashButton::FlashButton(FlashManager *manager, QWidget *parent)
    : QPushButton(Texts::flashFirmware, parent), m_manager(manager)
{
    setObjectName(u"flashButton"_s);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setIconSize(QSize(symbolSize, symbolSize));
    // Bold, as the guide's title and numbers already are: no other weight to load for it.
    QFont large = font();
    large.setBold(true);
    setFont(large);
    setMinimumHeight(34);

    // No window-wide Return: a key meant for the port list or the log must never start a write.
    // Return writes only when this button itself has focus (ButtonKeys).
    QObject::connect(this, &QPushButton::clicked, manager, &FlashManager::flash);
    QObject::connect(manager, &FlashManager::isBusyChanged, this, &FlashButton::updateEnabled);
    QObject::connect(manager, &FlashManager::selectedPortChanged, this, &FlashButton::updateEnabled);
    QObject::connect(manager, &FlashManager::firmwareImagesChanged, this, &FlashButton::updateEnabled);
    updateEnabled();
    updateLook();
}

void FlashButton::updateEnabled()
{
    EnablingRules::apply(this, EnablingRules::withPortAndFirmware(*m_manager));
}

void FlashButton::updateLook()
{
    const QColor fill = Style::accentFill();
    const QColor text = Style::accentText();
    // Disabled, it is a grey button with a grey label, plainly out of use in either palette.
    const QColor disabledFill = Style::disabledAccentFill();
    const QColor disabledText = Style::disabledAccentText();

    QIcon icon(downloadSymbol(text, devicePixelRatioF()));
    icon.addPixmap(downloadSymbol(disabledText, devicePixelRatioF()), QIcon::Disabled);
    setIcon(icon);
    // The style sheet takes the style's focus frame away: a ring in the text colour, which stands
    // out from the window and the fill alike, shows focus instead. The transparent ring keeps the
    // size the same.
    setStyleSheet(u"QPushButton { background-color: %1; color: %2; border: 2px solid transparent;"
                  " border-radius: 7px; padding: 4px 10px; }"
                  " QPushButton:focus { border-color: %6; }"
                  " QPushButton:pressed { background-color: %3; }"
                  " QPushButton:disabled { background-color: %4; color: %5; }"_s.arg(
                      fill.name(QColor::HexArgb), text.name(QColor::HexArgb),
                      fill.darker(115).name(QColor::HexArgb), disabledFill.name(QColor::HexArgb),
                      disabledText.name(QColor::HexArgb), Style::focusRing().name(QColor::HexArgb)));
}
