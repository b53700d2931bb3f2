#include "progressblock.h"

#include "flashmanager.h"
#include "style.h"
#include "texts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace {
constexpr int barSteps = 1000;
} // namespace

QString percentText(double progress)
{
    const double hundredfold = progress * 100;
    if (std::isnan(hundredfold))
        return u"0%"_s;
    // Fractions come from the tool's decimal percentages divided by 100: 0.29 × 100 is
    // 28.999999999999996 in binary, and must read as the 29 the tool printed.
    const double nearest = std::round(hundredfold);
    const double whole = std::abs(hundredfold - nearest) <= 1e-9 * std::max(1.0, std::abs(nearest))
                             ? nearest
                             : std::trunc(hundredfold);
    constexpr double limit = 9.2e18; // inside the range of a signed 64-bit integer
    if (std::abs(whole) < limit)
        return QString::number(qint64(whole)) + u'%';
    if (std::isinf(whole))
        return whole > 0 ? u"∞%"_s : u"-∞%"_s;
    // Beyond any real reading; short enough to keep the row's width.
    return QString::number(whole, 'g', 3) + u'%';
}

ProgressBlock::ProgressBlock(FlashManager *manager, const QString &name, QWidget *parent)
    : QWidget(parent), m_manager(manager), m_percent(new QLabel(this)), m_bar(new QProgressBar(this))
{
    setObjectName(name);
    auto *label = new QLabel(Texts::progressLabel, this);
    label->setFont(Style::subheadline(QFont::Medium));
    m_percent->setObjectName(name + u"Percent"_s);
    m_percent->setFont(Style::subheadline());
    m_percent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Room for "100%" so the row does not shift while the number grows.
    m_percent->setMinimumWidth(QFontMetrics(m_percent->font()).horizontalAdvance(u"100%"_s));
    Style::setTextColor(m_percent, Style::Role::secondary);
    m_bar->setObjectName(name + u"Bar"_s);
    m_bar->setRange(0, barSteps);
    m_bar->setTextVisible(false);
    m_bar->setAccessibleName(Texts::progressLabel);
    m_bar->setFixedHeight(8);
    updateLook();

    auto *row = new QHBoxLayout;
    row->addWidget(label, 0, Qt::AlignVCenter);
    row->addStretch();
    row->addWidget(m_percent, 0, Qt::AlignVCenter);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addLayout(row);
    layout->addWidget(m_bar);

    QObject::connect(manager, &FlashManager::progressChanged, this, &ProgressBlock::updateProgress);
    updateProgress();
}

void ProgressBlock::updateLook()
{
    // The style's own track can all but vanish on a dark window: a track and a fill that stand
    // out from each other and from the window.
    m_bar->setStyleSheet(u"QProgressBar { background-color: %1; border: none; border-radius: 4px; }"
                         " QProgressBar::chunk { background-color: %2; border-radius: 4px; }"_s.arg(
                             Style::progressTrack().name(), Style::progressChunk().name()));
}

void ProgressBlock::updateProgress()
{
    const double progress = m_manager->progress();
    m_percent->setText(percentText(progress));
    // The fraction is not clamped upstream; the bar never draws past full or below empty.
    const double bounded = std::isnan(progress) ? 0.0 : std::clamp(progress, 0.0, 1.0);
    m_bar->setValue(int(std::lround(bounded * barSteps)));
}
