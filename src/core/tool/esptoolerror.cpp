#include "esptoolerror.h"

using namespace Qt::StringLiterals;

namespace Texts {
const auto failedPrefix = u"esptool failed (exit "_s;
const auto failedSeparator = u"): "_s;
const auto notFound = u"Bundled esptool binary was not found in the application."_s;
const auto tooOld = u"Bu program esptool 5 veya daha yenisiyle çalışır; bulunan esptool %1 çok eski (%2)."_s;
} // namespace Texts

EsptoolError EsptoolError::failed(int status, const QString &tail)
{
    return {Kind::failed, status, tail,
            Texts::failedPrefix + QString::number(status) + Texts::failedSeparator + tail};
}

EsptoolError EsptoolError::notFound()
{
    return {Kind::notFound, 0, {}, Texts::notFound};
}

EsptoolError EsptoolError::tooOld(const QString &version, const QString &path)
{
    return {Kind::tooOld, 0, {}, Texts::tooOld.arg(version, path)};
}
