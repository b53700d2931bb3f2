#include "failurediagnosis.h"

#include "esptoolrunner.h"

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
                u"esptool bulunamadı. Uygulamanın yanına ya da Arduino klasörüne esptool yükleyin."_s};
        return diagnoseToolOutput(error.tail());
    } catch (...) {
        return std::nullopt;
    }
}
