// Placeholder until the extraction lands.
#include "zipextractor.h"

using namespace Qt::StringLiterals;

ZipExtractorError ZipExtractorError::unzipFailed(int status)
{
    return {status, u"Failed to extract firmware zip (exit "_s + QString::number(status) + u")."_s};
}

void ZipExtractor::extract(const QUrl &, const QUrl &)
{
    throw ZipExtractorError::unzipFailed(9);
}
