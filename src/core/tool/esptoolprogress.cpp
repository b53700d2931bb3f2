#include "esptoolprogress.h"

#include "esptoolchipsummary.h"

#include <QList>

namespace {
bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

/// `text` as a number if all of it is one in C notation: optional sign, digits with an
/// optional decimal point, optional exponent. No blanks, group separators, "inf" or "nan".
std::optional<double> strictNumber(QStringView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto digits = [&] {
        const qsizetype start = i;
        while (i < n && isAsciiDigit(text[i]))
            ++i;
        return i - start;
    };
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    qsizetype mantissaDigits = digits();
    if (i < n && text[i] == u'.') {
        ++i;
        mantissaDigits += digits();
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        if (i < n && (text[i] == u'+' || text[i] == u'-'))
            ++i;
        if (digits() == 0)
            return std::nullopt;
    }
    if (i != n)
        return std::nullopt;
    bool ok = false;
    const double value = text.toDouble(&ok); // C locale
    return ok ? std::optional(value) : std::nullopt;
}
} // namespace

QString reportedText(QStringView line)
{
    for (;;) {
        QStringView trimmed = trimmedBlanks(line);
        while (trimmed.startsWith(u'\r'))
            trimmed = trimmed.sliced(1);
        while (trimmed.endsWith(u'\r'))
            trimmed.chop(1);
        if (trimmed.size() == line.size())
            return trimmed.toString();
        line = trimmed;
    }
}

QString currentRedraw(const QString &line)
{
    // From the end: a long line costs no more than its last states.
    for (qsizetype end = line.size(); end >= 0;) {
        const qsizetype carriageReturn = end > 0 ? line.lastIndexOf(u'\r', end - 1) : -1;
        const QStringView state = QStringView(line).sliced(carriageReturn + 1, end - carriageReturn - 1);
        if (!trimmedBlanks(state).isEmpty())
            return state.toString();
        end = carriageReturn;
    }
    return {};
}

std::optional<double> parseProgress(QStringView line)
{
    // Older tools: "... (42 %)" and "(7.5%)", the first word inside the last
    // parentheses before the last percent sign.
    if (const qsizetype open = line.lastIndexOf(u'('); open >= 0) {
        if (const qsizetype percent = line.lastIndexOf(u'%'); percent > open) {
            const QStringView inner = trimmedBlanks(line.sliced(open + 1, percent - open - 1));
            for (QStringView word : inner.tokenize(u' ', Qt::SkipEmptyParts)) {
                if (const std::optional<double> value = strictNumber(word))
                    return value;
                break; // only the first word counts
            }
        }
    }
    // Version 5 prints "[=====>     ]  48.8% 81920/168035 bytes...", with no
    // parenthesis; the number between the bar's end and the percent sign is the percentage.
    if (const qsizetype close = line.lastIndexOf(u']'); close >= 0) {
        if (const qsizetype percent = line.lastIndexOf(u'%'); percent > close)
            return strictNumber(trimmedBlanks(line.sliced(close + 1, percent - close - 1)));
    }
    return std::nullopt;
}
