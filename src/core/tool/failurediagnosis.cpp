#include "failurediagnosis.h"

#include "esptoolrunner.h"
#include "packageinspection.h"
#include "zipextractor.h"

#include <QStringList>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
/// One known failure: the output must contain one phrase of `anyOf` and, when
/// `alsoOneOf` is not empty, one of those too. Phrases are the tool's own English words,
/// matched case-sensitively. The first rule that matches wins.
struct Rule
{
    QString key;
    QStringList anyOf;
    QStringList alsoOneOf;
    QString text;
};

const QList<Rule> &rules()
{
    static const QList<Rule> table = {
        // First: a device lost mid-run also fails the tool's reconnect, whose words ("could not
        // open port", "Failed to connect to") would otherwise read as a port or mode problem.
        {u"connection-lost"_s,
         {u"Lost connection, retrying"_s, u"A serial exception error occurred"_s,
          u"No more data to read from the serial port"_s, u"The chip stopped responding"_s,
          u"Input/output error"_s},
         {},
         u"Cihazla bağlantı koptu. Kabloyu kontrol edip işlemi tekrarlayın; yükleme yarım kaldıysa cihaz "
         u"yeni firmware yüklenene kadar çalışmayabilir."_s},
        {u"download-mode"_s,
         {u"Wrong boot mode detected"_s, u"No serial data received"_s, u"Failed to connect to"_s},
         {},
         u"Cihaz programlama modunda değil. USB kablosunu çıkarın, BOOT tuşuna basılı tutarak yeniden takın, "
         u"sonra BOOT'u bırakıp tekrar deneyin."_s},
        {u"port-permission"_s,
         {u"Permission denied"_s},
         {u"could not open port"_s, u"Could not open"_s},
         u"Bu porta erişim izniniz yok. Linux'ta kullanıcınızı 'dialout' grubuna ekleyin ve oturumu kapatıp "
         u"yeniden açın."_s},
        {u"port-unavailable"_s,
         {u"the port is busy or doesn't exist"_s, u"Resource busy"_s, u"could not open port"_s},
         {},
         u"Port açılamadı. Cihazın takılı olduğunu ve portu başka bir programın (seri monitör gibi) "
         u"kullanmadığını kontrol edin."_s},
        {u"wrong-image"_s,
         {u"ESP32-S3 image. Use"_s, u"Unexpected chip id in image"_s},
         {},
         u"Zip içindeki dosyalar ESP32-S3 için derlenmemiş. Doğru firmware dosyasını kullandığınızdan emin olun."_s},
        {u"wrong-chip"_s,
         {u", not ESP32-S3"_s},
         {},
         u"Bağlı cihaz bir ESP32-S3 değil. Doğru cihazı ve portu seçtiğinizden emin olun."_s},
        {u"transfer-stopped"_s,
         {u"Packet content transfer stopped"_s, u"Timed out waiting for packet header"_s,
          u"Serial data stream stopped"_s},
         {},
         u"Yazma sırasında veri aktarımı kesildi. Kabloyu kontrol edin ya da aynı yüklemeyi daha düşük hızda "
         u"tekrarlayın."_s},
        {u"old-esptool"_s,
         {u"invalid choice"_s, u"No such command"_s},
         {},
         u"Bulunan esptool sürümü bu komutları tanımıyor; esptool 5 veya daha yenisi gerekli."_s},
    };
    return table;
}

/// What unzip's exit status says, for the zips people send: see unzip(1), "EXIT CODES".
std::optional<FailureHint> unzipHint(int status)
{
    switch (status) {
    case 1:
        return FailureHint{
            u"zip-warnings"_s,
            u"Zip açılırken uyarı verdi: içindeki klasör adları Windows'a özgü ters bölü (\\) ile yazılmış "
            u"olabilir (Windows PowerShell ile yapılan zip'lerde olur). Zip'i yeniden oluşturun: dosyaları "
            u"seçip sağ tıklayın, «Gönder → Sıkıştırılmış klasör» deyin ya da 7-Zip kullanın."_s};
    case 9:
        return FailureHint{u"not-a-zip"_s,
                           u"Seçilen dosya bir zip arşivi değil ya da okunamıyor. Mail ile gelen "
                           u"zip dosyasını yeniden indirip onu seçin."_s};
    case 2:
    case 3:
    case 51:
        return FailureHint{u"damaged-zip"_s,
                           u"Zip dosyası bozuk ya da yarım inmiş. Mail ile gelen zip dosyasını "
                           u"yeniden indirip tekrar seçin."_s};
    case 50:
        return FailureHint{u"disk-full"_s,
                           u"Diskte yer kalmadığı için zip açılamadı. Biraz yer açıp tekrar deneyin."_s};
    case 81:
    case 82:
        return FailureHint{u"zip-unsupported"_s,
                           u"Zip şifreli ya da desteklenmeyen bir sıkıştırma kullanıyor. "
                           u"Şifresiz, sıradan bir zip dosyası isteyin."_s};
    default:
        return std::nullopt;
    }
}

FailureHint firmwareCheckHint(FirmwareCheckError::Kind kind)
{
    switch (kind) {
    case FirmwareCheckError::Kind::wrongChip:
        return {u"image-wrong-chip"_s,
                u"Bu zip başka bir cihaz için hazırlanmış; cihazınıza yazılmadı. Vardel'den "
                u"Olvex (ESP32-S3) için hazırlanmış firmware zip'ini isteyin."_s};
    case FirmwareCheckError::Kind::damaged:
        break;
    case FirmwareCheckError::Kind::tooLarge:
        return {u"image-too-large"_s,
                u"Bu firmware hatalı hazırlanmış: uygulama, paketin kendi bölüm tablosuna "
                u"sığmıyor; cihazınıza yazılmadı. Durumu Vardel'e bildirin."_s};
    }
    return {u"image-damaged"_s, u"Zip'teki dosyalar bozuk ya da eksik; cihazınıza yazılmadı. Zip'i mailden "
                                u"yeniden indirip tekrar seçin; sorun sürerse Vardel'e bildirin."_s};
}

/// What the tool says when the link gives way in the middle of a write; a slower speed often
/// gets through.
const QStringList &transferFailurePhrases()
{
    static const QStringList phrases = {
        u"Packet content transfer stopped"_s,
        u"Timed out waiting for packet header"_s,
        u"The chip stopped responding"_s,
        u"Serial data stream stopped"_s,
        u"No more data to read"_s,
    };
    return phrases;
}

bool containsAny(const QString &output, const QStringList &phrases)
{
    return std::any_of(phrases.cbegin(), phrases.cend(),
                       [&](const QString &phrase) { return output.contains(phrase); });
}
} // namespace

std::optional<FailureHint> diagnoseToolOutput(const QString &output)
{
    for (const Rule &rule : rules()) {
        if (containsAny(output, rule.anyOf) &&
            (rule.alsoOneOf.isEmpty() || containsAny(output, rule.alsoOneOf)))
            return FailureHint{rule.key, rule.text};
    }
    return std::nullopt;
}

std::optional<FailureHint> diagnoseFailure(const std::exception_ptr &failure)
{
    if (!failure)
        return std::nullopt;
    try {
        std::rethrow_exception(failure);
    } catch (const EsptoolError &error) {
        if (error.kind() == EsptoolError::Kind::notFound)
            return FailureHint{
                u"esptool-missing"_s,
                u"Programla gelen esptool bulunamadı; kurulum eksik. Programı yeniden kurun."_s};
        return diagnoseToolOutput(error.tail());
    } catch (const ZipExtractorError &error) {
        return unzipHint(error.status());
    } catch (const FirmwareCheckError &error) {
        return firmwareCheckHint(error.kind());
    } catch (...) {
        return std::nullopt;
    }
}

bool isTransferFailure(const std::exception_ptr &failure)
{
    if (!failure)
        return false;
    try {
        std::rethrow_exception(failure);
    } catch (const EsptoolError &error) {
        // The same words end a connection that never got as far as writing; a slower speed
        // does not help there.
        return error.kind() == EsptoolError::Kind::failed &&
               containsAny(error.tail(), transferFailurePhrases()) &&
               !error.tail().contains(u"Failed to connect to"_s);
    } catch (...) {
        return false;
    }
}
