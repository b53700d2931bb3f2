#include "guideview.h"

#include "style.h"
#include "texts.h"

#include <QGridLayout>
#include <QLabel>

using namespace Qt::StringLiterals;

namespace {
constexpr int numberColumnWidth = 20;
} // namespace

GuideView::GuideView(QWidget *parent) : QGroupBox(Texts::guideTitle, parent)
{
    setObjectName(u"guide"_s);
    auto *layout = new QGridLayout(this);
    layout->setHorizontalSpacing(10);
    layout->setVerticalSpacing(8);
    layout->setColumnStretch(1, 1);

    const QStringList &steps = Texts::guideSteps();
    for (int i = 0; i < steps.size(); ++i) {
        auto *number = new QLabel(QString::number(i + 1) + u'.', this);
        number->setObjectName(u"guideStepNumber"_s);
        number->setFont(Style::callout(QFont::Bold));
        number->setFixedWidth(numberColumnWidth);
        number->setAlignment(Qt::AlignRight | Qt::AlignTop);
        Style::setTextColor(number, Style::Role::secondary);

        auto *text = new QLabel(steps.at(i), this);
        text->setObjectName(u"guideStepText"_s);
        text->setFont(Style::callout());
        text->setTextFormat(Qt::PlainText);
        text->setWordWrap(true);
        text->setAlignment(Qt::AlignLeft | Qt::AlignTop);

        layout->addWidget(number, i, 0, Qt::AlignTop);
        layout->addWidget(text, i, 1, Qt::AlignTop);
    }
}
