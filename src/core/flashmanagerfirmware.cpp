#include "flashmanager.h"

#include "failurediagnosis.h"
#include "openedpackage.h"
#include "packagesignature.h"
#include "rawfilenames.h"
#include "zipextractor.h"

#include <QUuid>

using namespace Qt::StringLiterals;

namespace Texts {
const auto extractionFolderPrefix = u"vardel-firmware-"_s;
const auto firmwareReadyPrefix = u"Firmware hazır ("_s;
const auto firmwareReadySuffix = u" dosya)."_s;
const auto zipLoaded = u"Firmware zip yüklendi: "_s;
const auto namesRepairedPrefix = u"Zip'teki "_s;
const auto namesRepairedSuffix = u" ad, Windows'un Türkçe kodlamasından (CP857) çevrildi."_s;
const auto applicationPrefix = u"Uygulama: "_s;
const auto builtOn = u", derleme "_s;
const auto idfPrefix = u", ESP-IDF "_s;
const auto notAnImage = u": bir ESP imajı değil; içeriği denetlenemedi."_s;
const auto notATable = u": bir bölüm tablosu değil; içeriği denetlenemedi."_s;
const auto signedBy = u"Vardel imzalı paket (anahtar "_s;
const auto unsignedPackage = u"İmzasız paket: yalnızca güvendiğiniz bir kaynaktan geldiyse yükleyin."_s;
const auto unsignedUnchecked = u"Paket imzasız; bu sürüm imza denetlemiyor."_s;
const auto signatureCheck = u"İmza denetimi: "_s;
} // namespace Texts

namespace {
/// "  name @ 0xE000 (8192 bytes)"
QString imageLogLine(const FirmwareImage &image)
{
    return u"  "_s + image.fileName + u" @ 0x"_s + QString::number(image.offset, 16).toUpper() + u" ("_s +
           QString::number(image.size) + u" bytes)"_s;
}
} // namespace

void FlashManager::logInspection(const PackageInspection &inspection)
{
    if (const std::optional<AppDescriptor> application = inspection.application()) {
        QString line = Texts::applicationPrefix + application->projectName + u' ' + application->version;
        const QString date = buildDateText(*application);
        if (!date.isEmpty() || !application->time.isEmpty())
            line += Texts::builtOn + QStringList{date, application->time}.join(u' ').trimmed();
        if (!application->idfVersion.isEmpty())
            line += Texts::idfPrefix + application->idfVersion;
        log(Level::info, line);
    }
    for (const ImageCheck &check : inspection.files) {
        if (!check.recognised())
            log(Level::warning,
                check.fileName +
                    (check.role == ImageCheck::Role::partitionTable ? Texts::notATable : Texts::notAnImage));
    }
}

void FlashManager::removeExtractedFirmware()
{
    if (!m_extractedFirmwareDirectory)
        return;
    // By raw name: a name that is not valid UTF-8 must not keep the folder on disk.
    removeFolderTree(m_extractedFirmwareDirectory->toLocalFile()); // a failure changes nothing here
    m_extractedFirmwareDirectory.reset();
    Q_EMIT extractedFirmwareDirectoryChanged();
}

void FlashManager::loadFirmware(const QUrl &zip)
{
    if (m_isBusy)
        return;
    // The bar tells of a write of the package shown, not of one before it.
    setProgress(0.0);
    clearFailureHint();
    removeExtractedFirmware();
    const QUrl folder =
        QUrl::fromLocalFile(m_paths.temporaryDirectory + u'/' + Texts::extractionFolderPrefix +
                            QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    OpenedPackage package;
    try {
        package = openPackage(zip, folder, m_paths, [this](int repaired) {
            log(Level::info,
                Texts::namesRepairedPrefix + QString::number(repaired) + Texts::namesRepairedSuffix);
        });
        // Before anything is kept: a package that claims a signature must prove it.
        package.inspection.signingKeyId =
            checkSignature(folder, package.images, m_signaturePolicy, &package.inspection);
    } catch (const Error &error) {
        // A refused package leaves nothing behind; the earlier one is gone already.
        removeFolderTree(folder.toLocalFile());
        const std::optional<FailureHint> hint = diagnoseFailure(std::current_exception());
        assign(m_packageInspection, {}, &FlashManager::packageInspectionChanged);
        assign(m_firmwareImages, {}, &FlashManager::firmwareImagesChanged);
        assign(m_selectedFirmwareZipName, {}, &FlashManager::selectedFirmwareZipNameChanged);
        setStatus(OperationStatus::error);
        setStatusDetail(error.description());
        setFailureHint(hintText(hint));
        // unzip's own words, before the line that sums them up.
        if (const auto *unzipFailure = dynamic_cast<const ZipExtractorError *>(&error)) {
            for (const QString &line : unzipFailure->messages())
                log(Level::info, line);
        }
        log(Level::error, error.description());
        if (hint && hint->text != error.description())
            log(Level::warning, hint->text);
        if (const auto *signature = dynamic_cast<const PackageSignatureError *>(&error))
            log(Level::info, Texts::signatureCheck + signature->detail());
        return;
    }

    const QList<FirmwareImage> &images = package.images;
    const PackageInspection &inspection = package.inspection;
    const QString zipName = zip.fileName();
    assign(m_packageInspection, std::optional(inspection), &FlashManager::packageInspectionChanged);
    assign(m_firmwareImages, images, &FlashManager::firmwareImagesChanged);
    assign(m_extractedFirmwareDirectory, std::optional(folder),
           &FlashManager::extractedFirmwareDirectoryChanged);
    assign(m_selectedFirmwareZipName, std::optional(zipName), &FlashManager::selectedFirmwareZipNameChanged);
    setStatus(OperationStatus::idle);
    setStatusDetail(Texts::firmwareReadyPrefix + QString::number(images.size()) + Texts::firmwareReadySuffix);
    log(Level::success, Texts::zipLoaded + zipName);
    for (const FirmwareImage &image : std::as_const(images))
        log(Level::info, imageLogLine(image));
    logInspection(inspection);
    if (inspection.signingKeyId)
        log(Level::success, Texts::signedBy + *inspection.signingKeyId + u")."_s);
    else if (checksSignatures())
        log(Level::warning, Texts::unsignedPackage);
    else
        log(Level::info, Texts::unsignedUnchecked);
    checkPackageAgainstDevice();
}
