#include "detailslayout.h"

#include "actionrow.h"
#include "devicebox.h"
#include "firmwarefilelist.h"
#include "logpanel.h"
#include "portbox.h"
#include "progressblock.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

ActionRow *buildDetailsLayout(QWidget *details, FlashManager *manager, LogPanel *logPanel)
{
    auto *leftColumn = new QVBoxLayout;
    leftColumn->setSpacing(12);
    leftColumn->addWidget(new DeviceBox(manager, details));
    leftColumn->addWidget(new PortBox(manager, PortBox::Layout::details, details));
    leftColumn->addStretch();
    auto *rightColumn = new QVBoxLayout;
    rightColumn->addWidget(new FirmwareFileList(manager, details));
    rightColumn->addStretch();
    // Top-aligned columns sharing the width; each box keeps its own height.
    auto *columns = new QHBoxLayout;
    columns->setSpacing(16);
    columns->addLayout(leftColumn, 1);
    columns->addLayout(rightColumn, 1);
    auto *actions = new ActionRow(manager, details);
    auto *layout = new QVBoxLayout(details);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addLayout(columns);
    layout->addWidget(actions, 0, Qt::AlignHCenter);
    layout->addWidget(new ProgressBlock(manager, u"detailsProgress"_s, details));
    layout->addWidget(logPanel);
    return actions;
}
