#include "esptoolchipsummary.h"

#include <QStringList>

using namespace Qt::StringLiterals;

static bool isBlank(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QStringView trimmedBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

QString fieldValue(QStringView key, QStringView output)
{
    for (QStringView line : output.tokenize(u'\n', Qt::SkipEmptyParts)) {
        if (!line.contains(key))
            continue;
        qsizetype start = 0;
        while (start < line.size() && line[start] == u':')
            ++start;
        const qsizetype colon = line.indexOf(u':', start);
        if (colon < 0)
            return {};
        return trimmedBlanks(line.sliced(colon + 1)).toString();
    }
    return {};
}

QStringList EsptoolChipSummary::fieldKeys()
{
    return {u"Chip type"_s, u"MAC"_s, u"Features"_s, u"USB mode"_s};
}

EsptoolChipSummary EsptoolChipSummary::fromOutput(QStringView output)
{
    const QStringList keys = fieldKeys();
    EsptoolChipSummary summary;
    summary.chipType = fieldValue(keys[0], output);
    summary.macAddress = fieldValue(keys[1], output);
    summary.flashDescription = fieldValue(keys[2], output);
    summary.usbMode = fieldValue(keys[3], output);
    return summary;
}

QString EsptoolChipSummary::summaryText() const
{
    QStringList parts{chipType};
    if (!flashDescription.isEmpty())
        parts.append(flashDescription);
    if (!macAddress.isEmpty())
        parts.append(u"MAC "_s + macAddress);
    return parts.join(u", "_s);
}
