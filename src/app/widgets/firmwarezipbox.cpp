#include "firmwarezipbox.h"

#include "enablingrules.h"
#include "flashmanager.h"
#include "linelimitedlabel.h"
#include "style.h"
#include "texts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

FirmwareZipBox::FirmwareZipBox(FlashManager *manager, QWidget *parent)
    : QGroupBox(Texts::firmwareZipTitle, parent), m_manager(manager), m_name(new LineLimitedLabel(2, this)),
      m_package(new QLabel(this)), m_signed(new QLabel(Texts::signedPackage, this)),
      m_unsigned(new QLabel(Texts::unsignedPackage, this)),
      m_choose(Style::button(Texts::chooseFirmwareZip, this))
{
    setObjectName(u"firmwareZipBox"_s);
    m_name->setObjectName(u"firmwareZipName"_s);
    m_name->setFont(Style::callout());
    m_choose->setObjectName(u"compactChooseZipButton"_s);
    m_choose->setToolTip(Texts::chooserMessage);
    QObject::connect(m_choose, &QPushButton::clicked, this, &FirmwareZipBox::chooseRequested);

    m_package->setObjectName(u"firmwarePackageText"_s);
    m_package->setFont(Style::caption());
    m_package->setTextFormat(Qt::PlainText);
    m_package->setWordWrap(true);
    Style::setTextColor(m_package, Style::Role::secondary);

    m_signed->setObjectName(u"firmwareSignedText"_s);
    m_signed->setFont(Style::caption());
    Style::setTextColor(m_signed, Style::Role::green);
    m_unsigned->setObjectName(u"firmwareUnsignedText"_s);
    m_unsigned->setFont(Style::caption());
    m_unsigned->setWordWrap(true);
    Style::setTextColor(m_unsigned, Style::Role::orange);

    auto *packageRow = new QHBoxLayout;
    packageRow->setSpacing(8);
    packageRow->addWidget(m_package, 1);
    packageRow->addWidget(m_signed);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(m_name);
    texts->addLayout(packageRow);
    auto *row = new QHBoxLayout;
    row->addLayout(texts, 1);
    row->addWidget(m_choose, 0, Qt::AlignVCenter);
    // Under the whole row: a wrapped text beside the button would be squeezed to a column.
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(m_unsigned);

    QObject::connect(manager, &FlashManager::selectedFirmwareZipNameChanged, this,
                     &FirmwareZipBox::updateName);
    auto updateEnabled = [this] { EnablingRules::apply(m_choose, EnablingRules::whenIdle(*m_manager)); };
    QObject::connect(manager, &FlashManager::isBusyChanged, this, updateEnabled);
    QObject::connect(manager, &FlashManager::packageInspectionChanged, this, &FirmwareZipBox::updatePackage);
    updateEnabled();
    updateName();
    updatePackage();
}

void FirmwareZipBox::updatePackage()
{
    const std::optional<PackageInspection> &inspection = m_manager->packageInspection();
    const std::optional<AppDescriptor> application = inspection ? inspection->application() : std::nullopt;
    m_package->setText(application ? Texts::packageLine(*application) : QString());
    m_package->setVisible(application.has_value());
    m_signed->setVisible(inspection && inspection->signingKeyId);
    m_unsigned->setVisible(inspection && !inspection->signingKeyId && m_manager->checksSignatures());
}

void FirmwareZipBox::updateName()
{
    m_name->setText(m_manager->selectedFirmwareZipName().value_or(Texts::notChosenYet));
}
