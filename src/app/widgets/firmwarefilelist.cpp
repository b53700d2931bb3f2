#include "firmwarefilelist.h"

#include "accessibility.h"
#include "firmwarepackage.h"
#include "flashmanager.h"
#include "linelimitedlabel.h"
#include "style.h"
#include "texts.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

QString sizeLine(const FirmwareImage &image)
{
    return QString::number(image.size) + Texts::bytesAt + u"0x"_s +
           QString::number(image.offset, 16).toUpper();
}

namespace {
/// One image: its file name and size line on a faint rounded card.
class FirmwareImageRow final : public QWidget
{
public:
    FirmwareImageRow(const FirmwareImage &image, const ImageCheck *check, QWidget *parent) : QWidget(parent)
    {
        setObjectName(u"firmwareFileRow"_s);
        auto *name = new LineLimitedLabel(0, this);
        name->setObjectName(u"firmwareFileName"_s);
        name->setFont(Style::callout(QFont::Medium));
        name->setText(image.fileName);
        auto *size = new QLabel(sizeLine(image), this);
        size->setObjectName(u"firmwareFileSize"_s);
        size->setFont(Style::caption());
        Style::setTextColor(size, Style::Role::secondary);

        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(8, 8, 8, 8);
        layout->setSpacing(2);
        layout->addWidget(name);
        layout->addWidget(size);
        if (check) {
            auto *verdict = new QLabel(Texts::verdict(*check), this);
            verdict->setObjectName(u"firmwareFileVerdict"_s);
            verdict->setFont(Style::caption());
            verdict->setWordWrap(true);
            Style::setTextColor(verdict, check->recognised() ? Style::Role::secondary : Style::Role::orange);
            layout->addWidget(verdict);
        }
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Style::quaternaryFill(0.35));
        painter.drawRoundedRect(QRectF(rect()), 8, 8);
    }
};
} // namespace

FirmwareFileList::FirmwareFileList(FlashManager *manager, QWidget *parent)
    : QGroupBox(Texts::firmwareFilesTitle, parent), m_manager(manager), m_rows(new QVBoxLayout),
      m_empty(new QLabel(Texts::notChosenYet, this)), m_package(new QLabel(this))
{
    m_package->setObjectName(u"firmwarePackageSummary"_s);
    m_package->setFont(Style::callout(QFont::Medium));
    m_package->setTextFormat(Qt::PlainText);
    m_package->setWordWrap(true);
    setObjectName(u"firmwareFileList"_s);
    m_empty->setObjectName(u"firmwareFilesEmpty"_s);
    Style::setTextColor(m_empty, Style::Role::secondary);
    auto *note = new QLabel(Texts::zipContentsNote, this);
    note->setFont(Style::caption());
    note->setWordWrap(true);
    Style::setTextColor(note, Style::Role::secondary);

    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(8);
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(8);
    layout->addWidget(m_empty);
    layout->addWidget(m_package);
    layout->addLayout(m_rows);
    layout->addWidget(note);

    QObject::connect(manager, &FlashManager::firmwareImagesChanged, this, &FirmwareFileList::updateImages);
    updateImages();
}

void FirmwareFileList::updateImages()
{
    while (QLayoutItem *item = m_rows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const QList<FirmwareImage> &images = m_manager->firmwareImages();
    // The inspection is set before the images notify, so it belongs to these images.
    const std::optional<PackageInspection> &inspection = m_manager->packageInspection();
    for (const FirmwareImage &image : images)
        m_rows->addWidget(
            new FirmwareImageRow(image, inspection ? inspection->find(image.id) : nullptr, this));
    m_empty->setVisible(images.isEmpty());
    const std::optional<AppDescriptor> application = inspection ? inspection->application() : std::nullopt;
    m_package->setText(application && !images.isEmpty() ? Texts::packageLine(*application) : QString());
    m_package->setVisible(!m_package->text().isEmpty());
    followLayoutOrder(this); // new rows are read before the note below them
}
