#include "failurediagnosis.h"

#include "esptoolrunner.h"
#include "packageinspection.h"
#include "packagesignature.h"
#include "portcheck.h"
#include "rawfilenames.h"
#include "zipextractor.h"
#include "ziplisting.h"

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

bool containsAny(const QString &output, const QStringList &phrases)
{
    return std::any_of(phrases.cbegin(), phrases.cend(),
                       [&](const QString &phrase) { return output.contains(phrase); });
}

QString tooLargePackageText()
{
    return u"Bu zip bir firmware paketi için fazla büyük; güvenlik için açılmadı. Mail ile gelen doğru zip'i "
           u"seçtiğinizden emin olun; doğruysa durumu Vardel'e bildirin."_s;
}

QString nameTooLongText()
{
    return u"Zip'teki bir dosyanın adı bu sistem için fazla uzun. Zip'i daha kısa adlı dosyalarla yeniden "
           u"oluşturun ya da Vardel'den yenisini isteyin."_s;
}

/// What unzip said (its words name the cause) and, when it said nothing we know, its exit
/// status (see unzip(1), "EXIT CODES"): a name too long and a full disk both end with 50.
struct UnzipRule
{
    QString key;
    QStringList phrases;
    QList<int> statuses;
    QString text;
};

const QList<UnzipRule> &unzipRules()
{
    static const QList<UnzipRule> table = {
        {u"not-a-zip"_s,
         {u"End-of-central-directory signature not found"_s, u"cannot find or open"_s},
         {9},
         u"Seçilen dosya bir zip arşivi değil ya da okunamıyor. Mail ile gelen zip dosyasını yeniden indirip "
         u"onu seçin."_s},
        {u"zip-encrypted"_s,
         {u"unable to get password"_s, u"incorrect password"_s},
         {5, 82},
         u"Zip şifreli; program şifreli zip açamaz. Şifresiz bir firmware zip'i isteyin."_s},
        {u"zip-unsupported"_s,
         {u"need PK compat."_s, u"unsupported compression method"_s},
         {81},
         u"Zip, desteklenmeyen bir sıkıştırma yöntemiyle yapılmış. Sıradan bir zip dosyası isteyin ya da "
         u"dosyaları Windows'un «Sıkıştırılmış klasör» özelliğiyle yeniden sıkıştırın."_s},
        {u"zip-name-too-long"_s, {u"File name too long"_s}, {}, nameTooLongText()},
        {u"disk-full"_s,
         {u"disk full"_s, u"No space left on device"_s},
         {50},
         u"Diskte yer kalmadığı için zip açılamadı. Biraz yer açıp tekrar deneyin."_s},
        {u"zip-unsafe-paths"_s,
         {u"stripped absolute path"_s, u"path component(s) in"_s},
         {},
         u"Zip'teki bazı dosya yolları zip'in dışını gösteriyor (tam yol ya da «..»); böyle bir zip "
         u"yüklenmez. "
         u"Vardel'den yeni bir firmware zip'i isteyin."_s},
        {u"zip-backslashes"_s,
         {u"appears to use backslashes as path separators"_s},
         {},
         u"Zip'teki klasör adları Windows'a özgü ters bölü (\\) ile yazılmış (Windows PowerShell ile yapılan "
         u"zip'lerde olur). Zip'i yeniden oluşturun: dosyaları seçip sağ tıklayın, «Gönder → Sıkıştırılmış "
         u"klasör» deyin ya da 7-Zip kullanın."_s},
        {u"damaged-zip"_s,
         {u"bad CRC"_s, u"invalid compressed data"_s, u"unexpected end of file"_s,
          u"expected central file header signature not found"_s},
         {2, 3, 51},
         u"Zip dosyası bozuk ya da yarım inmiş. Mail ile gelen zip dosyasını yeniden indirip tekrar seçin."_s},
        // The file size limit unzip runs under stops a zip that lies about its sizes.
        {u"package-too-large"_s, {}, {25}, tooLargePackageText()},
        {u"zip-warnings"_s,
         {},
         {1},
         u"Zip açılırken uyarı verdi; uyarının metni günlükte. Zip'i yeniden oluşturun ya da Vardel'den "
         u"yenisini isteyin."_s},
    };
    return table;
}

std::optional<FailureHint> unzipHint(const ZipExtractorError &error)
{
    const QString said = error.messages().join(u'\n');
    for (const UnzipRule &rule : unzipRules()) {
        if (containsAny(said, rule.phrases))
            return FailureHint{rule.key, rule.text};
    }
    for (const UnzipRule &rule : unzipRules()) {
        if (rule.statuses.contains(error.status()))
            return FailureHint{rule.key, rule.text};
    }
    return std::nullopt;
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
                u"Bu firmware hatalı hazırlanmış: bir dosyası cihazda kendisine ayrılan yere "
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
        return unzipHint(error);
    } catch (const FileNameError &) {
        return FailureHint{u"zip-name-too-long"_s, nameTooLongText()};
    } catch (const PackageLimitError &) {
        return FailureHint{u"package-too-large"_s, tooLargePackageText()};
    } catch (const FirmwareCheckError &error) {
        return firmwareCheckHint(error.kind());
    } catch (const PortCheckError &error) {
        // Our own Turkish words already say what to do.
        return FailureHint{u"port-check"_s, error.description()};
    } catch (const PackageSignatureError &error) {
        return FailureHint{u"signature"_s, error.description(), error.reason()};
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
