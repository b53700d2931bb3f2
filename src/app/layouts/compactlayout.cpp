#include "compactlayout.h"

#include "firmwarezipbox.h"
#include "flashbutton.h"
#include "guideview.h"
#include "portbox.h"
#include "progressblock.h"
#include "statuscard.h"

#include <QVBoxLayout>

using namespace Qt::StringLiterals;

FirmwareZipBox *buildCompactLayout(QWidget *compact, FlashManager *manager)
{
    auto *zipBox = new FirmwareZipBox(manager, compact);
    auto *layout = new QVBoxLayout(compact);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);
    layout->addWidget(new StatusCard(manager, compact));
    layout->addWidget(new GuideView(compact));
    layout->addWidget(zipBox);
    layout->addWidget(new PortBox(manager, PortBox::Layout::compact, compact));
    layout->addWidget(new ProgressBlock(manager, u"compactProgress"_s, compact));
    layout->addWidget(new FlashButton(manager, compact));
    return zipBox;
}
