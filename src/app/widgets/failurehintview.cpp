#include "failurehintview.h"

#include "flashmanager.h"
#include "style.h"
#include "texts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {
/// An orange triangle with an exclamation mark, `size` pixels square.
QPixmap warningSymbol(int size, qreal devicePixelRatio)
{
    QPixmap pixmap(QSize(size, size) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QPainterPath triangle;
    triangle.moveTo(s / 2, 0.5);
    triangle.lineTo(s - 0.5, s - 1);
    triangle.lineTo(0.5, s - 1);
    triangle.closeSubpath();
    painter.fillPath(triangle, Style::orange());
    painter.setPen(QPen(Style::windowBackground(), s / 9, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(s / 2, s * 0.36), QPointF(s / 2, s * 0.62));
    painter.drawPoint(QPointF(s / 2, s * 0.78));
    return pixmap;
}
} // namespace

FailureHintView::FailureHintView(FlashManager *manager, QWidget *parent)
    : QWidget(parent), m_manager(manager), m_symbol(new QLabel(this)), m_text(new QLabel(this)),
      m_retry(Style::button(Texts::retrySlower, this))
{
    m_retry->setObjectName(u"slowerRetryButton"_s);
    QObject::connect(m_retry, &QPushButton::clicked, manager, &FlashManager::retryFlashSlower);
    m_text->setObjectName(u"failureHintText"_s);
    // The body size: this is what the user reads first after a failure.
    m_text->setWordWrap(true);
    m_text->setTextFormat(Qt::PlainText);

    updateLook();

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(m_symbol, 0, Qt::AlignTop);
    auto *column = new QVBoxLayout;
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    column->addWidget(m_text);
    column->addWidget(m_retry, 0, Qt::AlignLeft);
    layout->addLayout(column, 1);

    QObject::connect(manager, &FlashManager::failureHintChanged, this,
                     [this, manager] { showHint(manager->failureHint()); });
    QObject::connect(manager, &FlashManager::slowerRetryChanged, this, &FailureHintView::updateRetry);
    QObject::connect(manager, &FlashManager::isBusyChanged, this, &FailureHintView::updateRetry);
    showHint(manager->failureHint());
    updateRetry();
}

void FailureHintView::updateRetry()
{
    m_retry->setVisible(m_manager->slowerRetryBaudRate() != 0);
    m_retry->setEnabled(!m_manager->isBusy());
}

QString FailureHintView::text() const
{
    return m_text->text();
}

void FailureHintView::showHint(const QString &hint)
{
    m_text->setText(hint);
    setVisible(!hint.isEmpty());
}

void FailureHintView::updateLook()
{
    const int size = QFontMetrics(m_text->font()).height();
    m_symbol->setPixmap(warningSymbol(size, devicePixelRatioF()));
    m_symbol->setFixedSize(size, size);
}
