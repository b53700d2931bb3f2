#include "detailslayout.h"

#include "actionrow.h"
#include "devicebox.h"
#include "firmwarefilelist.h"
#include "logpanel.h"
#include "middlescrollarea.h"
#include "portbox.h"
#include "progressblock.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

DetailsParts buildDetailsLayout(QWidget *details, FlashManager *manager, LogPanel *logPanel)
{
    // On a short screen the boxes above give way and scroll: the buttons, the progress and the
    // log stay in view.
    auto *middle = new MiddleScrollArea(u"detailsMiddle"_s, details);
    QWidget *boxes = middle->widget();
    auto *leftColumn = new QVBoxLayout;
    leftColumn->setSpacing(12);
    leftColumn->addWidget(new DeviceBox(manager, boxes));
    leftColumn->addWidget(new PortBox(manager, PortBox::Layout::details, boxes));
    leftColumn->addStretch();
    auto *rightColumn = new QVBoxLayout;
    rightColumn->addWidget(new FirmwareFileList(manager, boxes));
    rightColumn->addStretch();
    // Top-aligned columns sharing the width; each box keeps its own height.
    auto *columns = new QHBoxLayout(boxes);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(16);
    columns->addLayout(leftColumn, 1);
    columns->addLayout(rightColumn, 1);
    auto *actions = new ActionRow(manager, details);
    auto *layout = new QVBoxLayout(details);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(middle);
    layout->addWidget(actions, 0, Qt::AlignHCenter);
    layout->addWidget(new ProgressBlock(manager, u"detailsProgress"_s, details));
    layout->addWidget(logPanel);
    return {actions, middle};
}
