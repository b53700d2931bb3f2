#include "texts.h"

#include <QLocale>

#include <cmath>

using namespace Qt::StringLiterals;

namespace Texts {
const QString applicationName = u"Vardel Olvex Güncelleyici"_s;
const QString subtitle = u"ESP32-S3 firmware yükleme"_s;

const QString guideTitle = u"Ne yapmalısınız?"_s;
const QString firmwareZipTitle = u"Firmware Zip"_s;
const QString usbPortTitle = u"USB Portu"_s;
const QString connectedDeviceTitle = u"Bağlı Cihaz"_s;
const QString firmwareFilesTitle = u"Firmware Dosyaları"_s;
const QString logTitle = u"Günlük (Log)"_s;
const QString logName = u"Günlük"_s;

const QString deviceLabel = u"Cihaz"_s;
const QString firmwareZipLabel = u"Firmware Zip"_s;
const QString statusLabel = u"Durum"_s;
const QString progressLabel = u"İlerleme"_s;
const QString notChosenYet = u"Henüz seçilmedi"_s;
const QString signedPackage = u"Vardel imzalı paket"_s;
const QString unsignedPackage = u"İmzasız paket: yalnızca güvendiğiniz bir kaynaktan geldiyse yükleyin."_s;

const QString chooseFirmwareZip = u"Firmware Zip Seç"_s;
const QString refreshPorts = u"Portları Yenile"_s;
const QString connectChip = u"Bağlan / Çip Bilgisi"_s;
const QString eraseFlash = u"Flash Sil"_s;
const QString flashFirmware = u"Firmware Yükle"_s;
const QString reboot = u"Yeniden Başlat"_s;
const QString showDetails = u"Detaylar"_s;
const QString hideDetails = u"Detayları Gizle"_s;

const QString noPortEntry = u"— Port seçin —"_s;
const QString espressifSuffix = u" — Espressif"_s;
const QString zipContentsNote =
    u"Zip içinde: bootloader, partitions ve uygulama (.ino.bin) dosyaları olmalı."_s;
const QString bytesAt = u" bayt @ "_s;

const QString retrySlower = u"Daha yavaş dene"_s;
const QString showWholeText = u"Tamamını göster"_s;
const QString showLessText = u"Daha az göster"_s;
const QString restartsByItself = u"Cihaz yeni firmware ile kendiliğinden yeniden başlıyor."_s;
const QString keepCableIn = u"Yazma bitene kadar kabloyu çıkarmayın."_s;
const QString closeRefused = u"İşlem sürüyor; bitince pencere kapanabilir."_s;

const QString chooserMessage = u"Mail ile gelen Vardel Olvex firmware zip dosyasını seçin."_s;
const QString zipFilter = u"Zip (*.zip)"_s;

QString packageLine(const AppDescriptor &application)
{
    QString line = application.projectName + u' ' + application.version;
    if (const QString date = buildDateText(application); !date.isEmpty())
        line += u" · "_s + date;
    return line;
}

QString byteSize(quint64 bytes)
{
    constexpr double kilobyte = 1024;
    constexpr double megabyte = 1024 * 1024;
    const QLocale turkish(QLocale::Turkish, QLocale::Turkey);
    if (bytes < megabyte)
        return turkish.toString(std::ceil(double(bytes) / kilobyte), 'f', 0) + u" KB"_s;
    QString number = turkish.toString(double(bytes) / megabyte, 'f', 1);
    if (number.endsWith(u",0"_s))
        number.chop(2);
    return number + u" MB"_s;
}

QString verdict(const ImageCheck &check)
{
    using Role = ImageCheck::Role;
    if (!check.recognised())
        return check.role == Role::partitionTable ? u"bölüm tablosu değil — içeriği denetlenemedi"_s
                                                  : u"ESP imajı değil — içeriği denetlenemedi"_s;
    switch (check.role) {
    case Role::bootloader:
        return chipName(check.image.chipId) + u" önyükleyici"_s;
    case Role::partitionTable:
        return u"bölüm tablosu: "_s + QString::number(check.table.entries.size()) + u" bölüm"_s;
    case Role::bootApp0:
        return u"OTA başlangıç verisi"_s;
    case Role::application:
        break;
    }
    QString text = u"uygulama "_s + byteSize(check.fileSize);
    if (check.partitionSize)
        text += u" / bölüm "_s + byteSize(*check.partitionSize);
    return text;
}

QString runningFirmwareLine(const RunningFirmware &running)
{
    return running.application ? u"Cihazdaki yazılım: "_s + applicationText(*running.application)
                               : u"Cihazda tanınan bir uygulama yok"_s;
}

Comparison comparison(const AppDescriptor &device, const AppDescriptor &package)
{
    const QString arrow = u" → "_s;
    if (device.projectName != package.projectName)
        return {device.projectName + u' ' + device.version + arrow + package.projectName + u' ' +
                    package.version,
                false};
    switch (compareVersions(device.version, package.version)) {
    case VersionOrder::same:
        return {u"aynı sürüm"_s, false};
    case VersionOrder::older:
        return {u"paket daha eski ("_s + device.version + arrow + package.version + u')', true};
    case VersionOrder::newer:
    case VersionOrder::unknown:
        break;
    }
    return {device.version + arrow + package.version, false};
}

QString statusTitle(FlashManager::OperationStatus status)
{
    using Status = FlashManager::OperationStatus;
    switch (status) {
    case Status::idle:
        return u"Hazır"_s;
    case Status::scanning:
        return u"Portlar taranıyor…"_s;
    case Status::connecting:
        return u"Bağlanıyor…"_s;
    case Status::erasing:
        return u"Flash siliniyor…"_s;
    case Status::flashing:
        return u"Yükleniyor…"_s;
    case Status::rebooting:
        return u"Yeniden başlatılıyor…"_s;
    case Status::complete:
        return u"Tamamlandı"_s;
    case Status::error:
        return u"Hata"_s;
    }
    Q_UNREACHABLE();
    return {};
}

QString levelLabel(Level level)
{
    switch (level) {
    case Level::info:
        return u"BİLGİ"_s;
    case Level::success:
        return u"TAMAM"_s;
    case Level::warning:
        return u"UYARI"_s;
    case Level::error:
        return u"HATA"_s;
    }
    Q_UNREACHABLE();
    return {};
}

const QStringList &guideSteps(Platform platform)
{
    static const QStringList onMac = {
        u"Zip'ten çıkarın; «Vardel Olvex Updater MacOS.app» dosyasını Uygulamalar klasörüne taşıyın."_s,
        u"İlk açılışta uygulamaya sağ tıklayıp «Aç» deyin (internetten indirildi uyarısı normaldir)."_s,
        u"USB kablosunu henüz takmadan BOOT tuşuna basılı tutun."_s,
        u"BOOT basılıyken USB kablosunu Mac'e takın, ardından BOOT'u bırakın."_s,
        u"«Firmware Zip Seç» ile mail'deki zip dosyasını seçin."_s,
        u"«Portları Yenile» deyin; USB Portu listesinde cu.usbmodem1101 gibi bir port seçin (rakamlar cihaza "
        u"göre "
        u"değişir)."_s,
        u"«Firmware Yükle» butonuna basın; yükleme genelde birkaç saniye sürer."_s,
        u"İşlem bitince cihaz otomatik yeniden başlar."_s,
    };
    static const QStringList onLinux = {
        u"Zip'ten çıkan .deb paketini kurun; «Vardel Olvex Güncelleyici» uygulamasını uygulamalar menüsünden "
        u"başlatın."_s,
        u"Kurulum parolanızı isteyebilir (bu normaldir); paket, cihazın portuna erişim iznini kendisi verir. "
        u"İzin yine eksikse uygulama önce cihazı çıkarıp yeniden takmanızı, olmazsa gereken komutu söyler."_s,
        u"USB kablosunu henüz takmadan BOOT tuşuna basılı tutun."_s,
        u"BOOT basılıyken USB kablosunu bilgisayara takın, ardından BOOT'u bırakın."_s,
        u"«Firmware Zip Seç» ile mail'deki zip dosyasını seçin."_s,
        u"«Portları Yenile» deyin; USB Portu listesinde ttyACM0 gibi bir port seçin (rakamlar cihaza göre "
        u"değişir)."_s,
        u"«Firmware Yükle» butonuna basın; yükleme genelde birkaç saniye sürer."_s,
        u"İşlem bitince cihaz otomatik yeniden başlar."_s,
    };
    return platform == Platform::macOS ? onMac : onLinux;
}

const QString &portExample(Platform platform)
{
    static const QString onMac = u"Örnek: cu.usbmodem1101"_s;
    static const QString onLinux = u"Örnek: ttyACM0"_s;
    return platform == Platform::macOS ? onMac : onLinux;
}
} // namespace Texts
