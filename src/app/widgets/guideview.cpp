#include "guideview.h"

#include "accessibility.h"
#include "style.h"
#include "texts.h"
#include "wrappinglabel.h"

#include <QGridLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {
constexpr int numberColumnWidth = 20;
constexpr int titleSpacing = 8;
} // namespace

GuideView::GuideView(QWidget *parent)
    : QGroupBox(parent), m_title(new QToolButton(this)), m_steps(new QWidget(this))
{
    setObjectName(u"guide"_s);
    setAccessibleName(Texts::guideTitle);
    // The title is the box's heading and the switch that folds it: read as expanded or
    // collapsed, and Space opens and folds it from the keyboard.
    m_title->setObjectName(u"guideTitle"_s);
    m_title->setText(Texts::guideTitle);
    m_title->setAccessibleName(Texts::guideTitle);
    m_title->setCheckable(true);
    m_title->setChecked(true);
    m_title->setAutoRaise(true);
    m_title->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_title->setFocusPolicy(Qt::StrongFocus);
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    m_title->setArrowType(Qt::DownArrow);
    readAsFoldSwitch(m_title);
    QObject::connect(m_title, &QToolButton::toggled, this, [this](bool open) { setFolded(!open); });

    m_steps->setObjectName(u"guideSteps"_s);
    auto *steps = new QGridLayout(m_steps);
    steps->setContentsMargins(0, 0, 0, 0);
    steps->setHorizontalSpacing(10);
    steps->setVerticalSpacing(8);
    steps->setColumnStretch(1, 1);
    const QStringList &texts = Texts::guideSteps();
    for (int i = 0; i < texts.size(); ++i) {
        auto *number = new QLabel(QString::number(i + 1) + u'.', m_steps);
        number->setObjectName(u"guideStepNumber"_s);
        number->setFont(Style::callout(QFont::Bold));
        number->setFixedWidth(numberColumnWidth);
        number->setAlignment(Qt::AlignRight | Qt::AlignTop);
        Style::setTextColor(number, Style::Role::secondary);

        auto *text = new WrappingLabel(texts.at(i), m_steps);
        text->setObjectName(u"guideStepText"_s);
        text->setFont(Style::callout());
        text->setTextFormat(Qt::PlainText);
        text->setAlignment(Qt::AlignLeft | Qt::AlignTop);

        steps->addWidget(number, i, 0, Qt::AlignTop);
        steps->addWidget(text, i, 1, Qt::AlignTop);
    }

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(titleSpacing);
    layout->addWidget(m_title, 0, Qt::AlignLeft);
    layout->addWidget(m_steps);
}

bool GuideView::isFolded() const
{
    return !m_title->isChecked();
}

void GuideView::setFoldedByDefault(bool fold)
{
    if (m_foldedByDefault == fold)
        return;
    m_foldedByDefault = fold;
    m_title->setChecked(!fold);
}

void GuideView::setFolded(bool folded)
{
    m_steps->setVisible(!folded);
    m_title->setArrowType(folded ? Qt::RightArrow : Qt::DownArrow);
}

int GuideView::stepsHeightForWidth(int width) const
{
    const QMargins margins = contentsMargins() + layout()->contentsMargins();
    return m_steps->heightForWidth(width - margins.left() - margins.right()) + titleSpacing;
}
