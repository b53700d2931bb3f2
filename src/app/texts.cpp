#include "texts.h"

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

const QString deviceLabel = u"Cihaz"_s;
const QString firmwareZipLabel = u"Firmware Zip"_s;
const QString statusLabel = u"Durum"_s;
const QString progressLabel = u"İlerleme"_s;
const QString notChosenYet = u"Henüz seçilmedi"_s;

const QString chooseFirmwareZip = u"Firmware Zip Seç"_s;
const QString refreshPorts = u"Portları Yenile"_s;
const QString connectChip = u"Bağlan / Çip Bilgisi"_s;
const QString eraseFlash = u"Flash Sil"_s;
const QString flashFirmware = u"Firmware Yükle"_s;
const QString reboot = u"Yeniden Başlat"_s;
const QString showDetails = u"Detaylar"_s;
const QString hideDetails = u"Detayları Gizle"_s;

const QString noPortEntry = u"— Port seçin —"_s;
const QString portExample = u"Örnek: cu.usbmodem1101"_s;
const QString zipContentsNote =
    u"Zip içinde: bootloader, partitions ve uygulama (.ino.bin) dosyaları olmalı."_s;
const QString bytesAt = u" bayt @ "_s;

const QString showWholeText = u"Tamamını göster"_s;
const QString showLessText = u"Daha az göster"_s;
const QString restartsByItself = u"Cihaz yeni firmware ile kendiliğinden yeniden başlıyor."_s;
const QString closeRefused = u"İşlem sürüyor; bitince pencere kapanabilir."_s;

const QString chooserMessage = u"Mail ile gelen Vardel Olvex firmware zip dosyasını seçin."_s;
const QString zipFilter = u"Zip (*.zip)"_s;

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

const QStringList &guideSteps()
{
    static const QStringList steps = {
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
    return steps;
}
} // namespace Texts
