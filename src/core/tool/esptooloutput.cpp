#include "esptooloutput.h"

#include "esptoolprogress.h"
#include "logger.h"

#include <algorithm>
#include <utility>

namespace {
/// The longest piece up to `maxLineLength` that does not split a surrogate pair.
qsizetype pieceLength(QStringView line)
{
    if (line.size() <= EsptoolOutput::maxLineLength)
        return line.size();
    return line[EsptoolOutput::maxLineLength - 1].isHighSurrogate() ? EsptoolOutput::maxLineLength - 1
                                                                    : EsptoolOutput::maxLineLength;
}
} // namespace

EsptoolOutput::EsptoolOutput(Logger *logger, LineCallback onLine, LineCallback onUnfinished,
                             QStringList keptKeys)
    : m_logger(logger), m_onLine(std::move(onLine)), m_onUnfinished(std::move(onUnfinished)),
      m_keptKeys(std::move(keptKeys))
{
}

void EsptoolOutput::consume(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    // Invalid bytes become U+FFFD; a letter cut between two reads is completed by the next.
    const QString text = m_decoder.decode(bytes);
    cutLines(text, collect(text));
}

void EsptoolOutput::finish()
{
    if (m_decoder.hasIncompleteSequence()) {
        const QString replacement(QChar::ReplacementCharacter);
        collect(replacement);
        m_partial.append(replacement);
    }
    if (!m_partial.isEmpty())
        deliver(std::exchange(m_partial, QString()), !m_limitReached);
}

QString EsptoolOutput::tail() const
{
    const qsizetype kept = std::min(m_lineCount, tailLineCount);
    QStringList lines;
    lines.reserve(kept);
    for (qsizetype i = m_lineCount - kept; i < m_lineCount; ++i)
        lines.append(m_tail[size_t(i % tailLineCount)]);
    return lines.join(u' ');
}

qsizetype EsptoolOutput::collect(QStringView text)
{
    if (m_limitReached)
        return -1;
    if (m_collected.size() + text.size() <= collectedLimit) {
        m_collected.append(text);
        return text.size();
    }
    // A flood: the text ends with the last whole line that fits, so that a line the chip
    // query reads is either all there or collected later as a kept line.
    m_limitReached = true;
    const qsizetype lastBreak = text.first(collectedLimit - m_collected.size()).lastIndexOf(u'\n');
    if (lastBreak >= 0)
        m_collected.append(text.first(lastBreak + 1));
    else
        m_collected.truncate(m_collected.lastIndexOf(u'\n') + 1);
    return lastBreak;
}

// Cut at line feeds only; a carriage return stays in its line; empty pieces are skipped.
void EsptoolOutput::cutLines(QStringView text, qsizetype collectedEnd)
{
    qsizetype start = 0;
    for (qsizetype end = text.indexOf(u'\n'); end >= 0; end = text.indexOf(u'\n', start)) {
        const QStringView piece = text.sliced(start, end - start);
        const bool collected = end <= collectedEnd;
        if (!m_partial.isEmpty()) {
            m_partial.append(piece);
            deliver(std::exchange(m_partial, QString()), collected);
        } else if (!piece.isEmpty()) {
            deliver(piece, collected);
        }
        start = end + 1;
    }
    m_partial.append(text.sliced(start));
    // Every whole piece goes on now, so that a line that never ends keeps at most one piece.
    if (m_partial.size() > maxLineLength) {
        QStringView rest(m_partial);
        while (rest.size() > maxLineLength) {
            const qsizetype whole = pieceLength(rest);
            deliver(rest.first(whole), collectedEnd == text.size());
            rest = rest.sliced(whole);
        }
        m_partial = rest.toString();
    }
    // A tool that redraws its bar with carriage returns ends the line only at the end:
    // its current state is shown now, and the line logged once it is complete.
    if (m_onUnfinished && start < text.size()) {
        if (const QString state = currentRedraw(m_partial); !state.isEmpty())
            m_onUnfinished(state);
    }
}

void EsptoolOutput::deliver(QStringView line, bool collected)
{
    while (!line.isEmpty()) {
        const qsizetype length = pieceLength(line);
        deliverPiece(line.first(length).toString(), collected);
        line = line.sliced(length);
    }
}

void EsptoolOutput::deliverPiece(const QString &line, bool collected)
{
    m_logger->log(Level::info, line);
    if (m_onLine)
        m_onLine(line);
    m_tail[size_t(m_lineCount % tailLineCount)] = line;
    ++m_lineCount;
    if (collected || m_keptKeys.isEmpty())
        return;
    const auto met = std::remove_if(m_keptKeys.begin(), m_keptKeys.end(),
                                    [&line](const QString &key) { return line.contains(key); });
    if (met != m_keptKeys.end()) {
        m_collected.append(line + u'\n');
        m_keptKeys.erase(met, m_keptKeys.end());
    }
}
