#include "compactlayout.h"

#include "firmwarezipbox.h"
#include "flashbutton.h"
#include "guideview.h"
#include "middlescrollarea.h"
#include "portbox.h"
#include "progressblock.h"
#include "statuscard.h"

#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {
constexpr int spacing = 16;
} // namespace

CompactParts buildCompactLayout(QWidget *compact, FlashManager *manager)
{
    auto *middle = new MiddleScrollArea(u"compactMiddle"_s, compact);
    QWidget *content = middle->widget();
    auto *guide = new GuideView(content);
    auto *zipBox = new FirmwareZipBox(manager, content);
    auto *inner = new QVBoxLayout(content);
    inner->setContentsMargins(0, 0, 0, 0);
    inner->setSpacing(spacing);
    inner->addWidget(guide);
    inner->addWidget(zipBox);
    inner->addWidget(new PortBox(manager, PortBox::Layout::compact, content));
    inner->addStretch();

    auto *layout = new QVBoxLayout(compact);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    auto *card = new StatusCard(manager, compact);
    auto *button = new FlashButton(manager, compact);
    layout->addWidget(card);
    layout->addWidget(middle);
    layout->addWidget(new ProgressBlock(manager, u"compactProgress"_s, compact));
    layout->addWidget(button);
    return {zipBox, guide, middle, card, button};
}
