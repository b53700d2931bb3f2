#include "esptoolrunner.h"

#include "logger.h"
#include "queuedresume.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QMutexLocker>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <coroutine>
#include <memory>
#include <utility>

using namespace Qt::StringLiterals;

namespace Texts {
const auto failedPrefix = u"esptool failed (exit "_s;
const auto failedSeparator = u"): "_s;
const auto notFound = u"Bundled esptool binary was not found in the application."_s;
const auto tooOld = u"Bu program esptool 5 veya daha yenisiyle çalışır; bulunan esptool %1 çok eski (%2)."_s;
const auto commandLinePrefix = u"esptool "_s;
const auto flashComplete = u"Flash complete"_s;
} // namespace Texts

namespace {

constexpr qsizetype tailLineCount = 12;

/// Longer lines (only a tool gone wrong writes them) are passed on in pieces of this size,
/// so no log row or status message grows without bound and nothing is dropped.
constexpr qsizetype maxLineLength = 4096;

/// Status reported for a tool killed by a signal when Qt gives no signal number: a crash is
/// never a success, so it must not read as exit 0.
constexpr int unknownCrashStatus = -1;

QStringList commandLine(const QString &port, const QStringList &extraArguments)
{
    QStringList arguments{u"--chip"_s, u"esp32s3"_s, u"--port"_s, port, u"--baud"_s, u"921600"_s};
    arguments.append(extraArguments);
    return arguments;
}

QStringList writeArguments(QList<FirmwareImage> images)
{
    std::stable_sort(images.begin(), images.end(),
                     [](const FirmwareImage &a, const FirmwareImage &b) { return a.offset < b.offset; });
    QStringList arguments{u"--before"_s,     u"default-reset"_s, u"--after"_s,
                          u"hard-reset"_s,   u"write-flash"_s,   u"-z"_s,
                          u"--flash-mode"_s, u"keep"_s,          u"--flash-freq"_s,
                          u"keep"_s,         u"--flash-size"_s,  u"keep"_s};
    for (const FirmwareImage &image : std::as_const(images)) {
        arguments.append(QString::asprintf("0x%X", unsigned(image.offset)));
        arguments.append(image.url.toLocalFile());
    }
    return arguments;
}

/// The line as the status shows it: without blanks, and without the carriage return that
/// the tool puts before each bar line, at either end.
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

/// The last non-blank state of a line redrawn with carriage returns.
QString currentRedraw(const QString &line)
{
    const QList<QStringView> states = QStringView(line).split(u'\r');
    for (auto state = states.crbegin(); state != states.crend(); ++state) {
        if (!trimmedBlanks(*state).isEmpty())
            return state->toString();
    }
    return {};
}

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

/// A decoder that can tell whether the output ended inside a multi-byte letter.
class Utf8Decoder final : public QStringDecoder
{
public:
    // A byte-order mark at the start is something the tool wrote: keep it.
    Utf8Decoder() : QStringDecoder(Encoding::Utf8, Flag::ConvertInitialBom) {}
    [[nodiscard]] bool hasIncompleteSequence() const { return state.remainingChars > 0; }
};

/// What one run of the tool has said: its whole text, the line being assembled across
/// chunks, and the last lines for the tail of a failure.
class RunOutput final
{
public:
    RunOutput(Logger *logger, EsptoolRunner::LineCallback onLine, EsptoolRunner::LineCallback onUnfinished)
        : m_logger(logger), m_onLine(std::move(onLine)), m_onUnfinished(std::move(onUnfinished))
    {
    }

    /// One chunk as read from the pipe, in arrival order.
    void consume(const QByteArray &bytes)
    {
        if (bytes.isEmpty())
            return;
        // Invalid bytes become U+FFFD; a letter cut between two reads is completed by the next.
        const QString text = m_decoder.decode(bytes);
        m_collected.append(text);
        cutLines(text);
    }

    /// The output has ended: a cut-off letter and an unfinished last line still count.
    void finish()
    {
        if (m_decoder.hasIncompleteSequence()) {
            m_collected.append(QChar::ReplacementCharacter);
            m_partial.append(QChar::ReplacementCharacter);
        }
        if (!m_partial.isEmpty())
            deliver(std::exchange(m_partial, QString()));
    }

    [[nodiscard]] QString takeCollected() { return std::exchange(m_collected, QString()); }

    /// The last non-empty lines, oldest first, joined by single spaces.
    [[nodiscard]] QString tail() const
    {
        const qsizetype kept = std::min(m_lineCount, tailLineCount);
        QStringList lines;
        lines.reserve(kept);
        for (qsizetype i = m_lineCount - kept; i < m_lineCount; ++i)
            lines.append(m_tail[size_t(i % tailLineCount)]);
        return lines.join(u' ');
    }

private:
    // Cut at line feeds only; a carriage return stays in its line; empty pieces are skipped.
    void cutLines(QStringView text)
    {
        qsizetype start = 0;
        for (qsizetype end = text.indexOf(u'\n'); end >= 0; end = text.indexOf(u'\n', start)) {
            const QStringView piece = text.sliced(start, end - start);
            if (!m_partial.isEmpty()) {
                m_partial.append(piece);
                deliver(std::exchange(m_partial, QString()));
            } else if (!piece.isEmpty()) {
                deliver(piece);
            }
            start = end + 1;
        }
        m_partial.append(text.sliced(start));
        if (m_partial.size() > maxLineLength) {
            const qsizetype whole = pieceLength(m_partial);
            deliver(m_partial.first(whole));
            m_partial.remove(0, whole);
        }
        // A tool that redraws its bar with carriage returns ends the line only at the end:
        // what is there so far is shown now, and logged once the line is complete.
        if (m_onUnfinished && start < text.size() && !m_partial.isEmpty())
            m_onUnfinished(m_partial);
    }

    /// The longest piece up to `maxLineLength` that does not split a surrogate pair.
    static qsizetype pieceLength(QStringView line)
    {
        if (line.size() <= maxLineLength)
            return line.size();
        return line[maxLineLength - 1].isHighSurrogate() ? maxLineLength - 1 : maxLineLength;
    }

    void deliver(QStringView line)
    {
        while (!line.isEmpty()) {
            const qsizetype length = pieceLength(line);
            deliverPiece(line.first(length).toString());
            line = line.sliced(length);
        }
    }

    void deliverPiece(const QString &line)
    {
        m_logger->log(Level::info, line);
        if (m_onLine)
            m_onLine(line);
        m_tail[size_t(m_lineCount % tailLineCount)] = line;
        ++m_lineCount;
    }

    Logger *m_logger;
    EsptoolRunner::LineCallback m_onLine;
    EsptoolRunner::LineCallback m_onUnfinished;
    Utf8Decoder m_decoder;
    QString m_collected;
    QString m_partial;
    std::array<QString, tailLineCount> m_tail;
    qsizetype m_lineCount = 0;
};

/// The state of one run, shared by the process's handlers and the waiting coroutine.
struct Run
{
    Run(Logger *logger, EsptoolRunner::LineCallback onLine, EsptoolRunner::LineCallback onUnfinished,
        QObject *context)
        : output(logger, std::move(onLine), std::move(onUnfinished)), context(context)
    {
    }

    /// Hands the result to the waiting coroutine through the event loop, so that it goes
    /// on outside the process's signal and after every job already queued.
    void complete()
    {
        done = true;
        if (waiter)
            QMetaObject::invokeMethod(
                context, [handle = waiter] { handle.resume(); }, Qt::QueuedConnection);
    }

    RunOutput output;
    QObject *context;
    bool done = false;
    std::optional<QString> launchError;
    int exitCode = 0;
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    std::coroutine_handle<> waiter;
};

/// `co_await RunEnd{run}` waits for Run::complete(), which may already have happened
/// (a launch failure can be reported inside QProcess::start()).
struct RunEnd
{
    std::shared_ptr<Run> run;
    [[nodiscard]] bool await_ready() const noexcept { return run->done; }
    void await_suspend(std::coroutine_handle<> handle) const noexcept { run->waiter = handle; }
    void await_resume() const noexcept {}
};

} // namespace

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

EsptoolRunner::EsptoolRunner(Logger *logger, PlatformPaths paths, EsptoolVersionCheck *versionCheck,
                             QObject *parent)
    : QObject(parent), m_logger(logger), m_paths(std::move(paths)), m_versionCheck(versionCheck)
{
}

EsptoolRunner::~EsptoolRunner() = default;

QString EsptoolRunner::locateEsptool() const
{
    return ::locateEsptool(m_paths).path;
}

QCoro::Task<QString> EsptoolRunner::run(QString port, QStringList extraArguments, LineCallback onLine)
{
    return runTool(std::move(port), std::move(extraArguments), std::move(onLine), {});
}

QCoro::Task<QString> EsptoolRunner::runTool(QString port, QStringList extraArguments, LineCallback onLine,
                                            LineCallback onUnfinishedLine)
{
    const LocatedEsptool tool = ::locateEsptool(m_paths); // throws before anything is logged or made
    if (m_versionCheck)
        co_await m_versionCheck->verify(tool, m_paths, m_logger);
    const QString program = tool.path;
    const QStringList arguments = commandLine(port, extraArguments);
    m_logger->log(Level::info, Texts::commandLinePrefix + arguments.join(u' '));
    const QProcessEnvironment environment = esptoolEnvironment(m_paths);

    // No parent: a running process must never be destroyed with its owner. It deletes
    // itself once it has ended (or failed to start).
    auto *process = new QProcess;
    process->setProgram(program);
    process->setArguments(arguments);
    process->setWorkingDirectory(QFileInfo(program).absolutePath());
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::MergedChannels);

    auto run = std::make_shared<Run>(m_logger, std::move(onLine), std::move(onUnfinishedLine), this);
    QObject::connect(process, &QProcess::readyReadStandardOutput, this,
                     [run, process] { run->output.consume(process->readAllStandardOutput()); });
    QObject::connect(process, &QProcess::errorOccurred, this, [run, process](QProcess::ProcessError error) {
        // Other errors (a crash) are followed by `finished`; a failed start is not.
        if (error != QProcess::FailedToStart || run->done)
            return;
        run->launchError = process->errorString();
        process->deleteLater();
        run->complete();
    });
    QObject::connect(process, &QProcess::finished, this,
                     [run, process](int exitCode, QProcess::ExitStatus exitStatus) {
                         if (run->done)
                             return;
                         // Whatever is still buffered comes before the end of the output.
                         run->output.consume(process->readAllStandardOutput());
                         run->output.finish();
                         run->exitCode = exitCode;
                         run->exitStatus = exitStatus;
                         run->complete();
                     });
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);

    {
        QMutexLocker lock(&m_lock);
        m_runningProcess = process;
    }
    process->start();
    RunEnd end{run};
    co_await end;
    {
        QMutexLocker lock(&m_lock);
        m_runningProcess = nullptr;
    }

    if (run->launchError)
        throw PlatformError(*run->launchError);
    if (run->exitStatus == QProcess::CrashExit) {
        // Qt reports the signal's number as the exit code of a killed process.
        const int status = run->exitCode != 0 ? run->exitCode : unknownCrashStatus;
        throw EsptoolError::failed(status, run->output.tail());
    }
    if (run->exitCode != 0)
        throw EsptoolError::failed(run->exitCode, run->output.tail());
    co_return run->output.takeCollected();
}

QCoro::Task<EsptoolChipSummary> EsptoolRunner::readChipInfo(QString port)
{
    const QStringList arguments = chipIdArguments();
    const QString output = co_await run(std::move(port), arguments);
    co_return EsptoolChipSummary::fromOutput(output);
}

QCoro::Task<> EsptoolRunner::flash(QString port, QList<FirmwareImage> images, ProgressCallback progress)
{
    if (images.isEmpty())
        co_return;
    const QStringList arguments = writeArguments(std::move(images));
    LineCallback onLine = [progress](const QString &line) {
        // Parsed as it came; reported without the blanks and carriage returns around it.
        if (const std::optional<double> percentage = parseProgress(line); percentage && progress)
            progress(reportedText(line), *percentage / 100.0);
    };
    LineCallback onUnfinishedLine = [progress](const QString &line) {
        // The bar as it stands now: the last state drawn after a carriage return.
        const QString current = currentRedraw(line);
        if (const std::optional<double> percentage = parseProgress(current); percentage && progress)
            progress(reportedText(current), *percentage / 100.0);
    };
    co_await runTool(std::move(port), arguments, std::move(onLine), std::move(onUnfinishedLine));
    if (progress)
        progress(Texts::flashComplete, 1.0);
    // The receiver queues each report as a main-thread job: let the final one run before the
    // caller goes on, so that its own completion message is the last word.
    co_await queuedResume(this);
}

QStringList EsptoolRunner::chipIdArguments()
{
    return {u"--before"_s, u"default-reset"_s, u"chip-id"_s};
}

QStringList EsptoolRunner::eraseArguments()
{
    return {u"--before"_s, u"default-reset"_s, u"erase-flash"_s};
}

QStringList EsptoolRunner::rebootArguments()
{
    return {u"--before"_s, u"no-reset"_s, u"--after"_s, u"hard-reset"_s, u"chip-id"_s};
}

QStringList EsptoolRunner::readApplicationHeaderArguments(const QString &file)
{
    return {u"--before"_s, u"default-reset"_s, u"read-flash"_s, u"0x10000"_s, u"0x100"_s, file};
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
