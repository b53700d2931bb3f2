#pragma once

#include <QString>
#include <QStringDecoder>
#include <QStringList>
#include <QStringView>

#include <array>
#include <functional>

class Logger;

/// What one run of the tool says, turned into lines: bytes decoded as UTF-8 across chunk
/// ends, cut at line feeds (carriage returns stay in their line, empty lines are skipped,
/// overlong lines go on in pieces), each line logged and handed on in arrival order.
/// Keeps only what is read after the run: its last lines for a failure, and a bounded copy
/// of the text for the caller.
class EsptoolOutput final
{
public:
    using LineCallback = std::function<void(const QString &line)>;

    /// Lines longer than this (only a tool gone wrong writes them) are passed on in pieces
    /// of this size, so no log row or status message grows without bound.
    static constexpr qsizetype maxLineLength = 4096;
    /// How many of the last lines the tail keeps.
    static constexpr qsizetype tailLineCount = 12;
    /// The collected text is the whole output up to this many characters.
    static constexpr qsizetype collectedLimit = qsizetype(1) << 18;

    /// `keptKeys`: past the limit, the first line that contains each of them is still
    /// collected. `onUnfinished` sees the current state of the unfinished last line (see
    /// currentRedraw; at most `maxLineLength` long) whenever the line grows.
    EsptoolOutput(Logger *logger, LineCallback onLine, LineCallback onUnfinished, QStringList keptKeys);

    /// One chunk as read from the pipe, in arrival order.
    void consume(const QByteArray &bytes);
    /// The output has ended: a cut-off letter and an unfinished last line still count.
    void finish();

    /// The output as it came when it is short; else its complete lines up to the limit,
    /// then the first later line with each kept key, each ended by a line feed.
    [[nodiscard]] QString takeCollected() { return std::exchange(m_collected, QString()); }
    /// The last non-empty lines, oldest first, joined by single spaces.
    [[nodiscard]] QString tail() const;

private:
    /// A decoder that can tell whether the output ended inside a multi-byte letter.
    class Utf8Decoder final : public QStringDecoder
    {
    public:
        // A byte-order mark at the start is something the tool wrote: keep it.
        Utf8Decoder() : QStringDecoder(Encoding::Utf8, Flag::ConvertInitialBom) {}
        [[nodiscard]] bool hasIncompleteSequence() const { return state.remainingChars > 0; }
    };

    /// Collects `text`; returns the index in it of the last line feed that ends a collected
    /// line, `text.size()` when all of it was collected, or -1.
    qsizetype collect(QStringView text);
    void cutLines(QStringView text, qsizetype collectedEnd);
    void deliver(QStringView line, bool collected);
    void deliverPiece(const QString &line, bool collected);

    Logger *m_logger;
    LineCallback m_onLine;
    LineCallback m_onUnfinished;
    QStringList m_keptKeys; // the keys not met since the limit was reached
    Utf8Decoder m_decoder;
    QString m_collected;
    bool m_limitReached = false;
    QString m_partial;
    std::array<QString, tailLineCount> m_tail;
    qsizetype m_lineCount = 0;
};
