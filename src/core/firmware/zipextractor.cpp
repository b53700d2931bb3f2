#include "zipextractor.h"

#include "ziplisting.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QStringList>

#include <algorithm>

#include <filesystem>
#include <map>
#include <system_error>

#if defined(Q_OS_UNIX)
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace {
const auto systemUnzip = u"/usr/bin/unzip"_s;
/// What is kept of unzip's messages: for a package, hundreds of lines.
constexpr qsizetype keptOutput = 64 * 1024;
/// unzip's own status for a zip whose directory it cannot read: it lists one we cannot.
constexpr int unreadableDirectory = 3;

void makeFolder(const QString &path)
{
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(path).toStdString()), error);
    if (error)
        throw PlatformError(u"Cannot create folder "_s + path + u": "_s +
                            QString::fromLocal8Bit(error.message()));
}

/// The archive's path as unzip must be given it. unzip reads the name as a wildcard
/// pattern whenever the path holds "*", "?" or "[" not escaped by a backslash, and then
/// opens the first file of the folder that matches: "firmware [v2].zip" would open
/// "firmware 2.zip". The folder part is taken as it is; in the name, each special
/// character is made to match only itself.
QString unzipArchiveArgument(const QString &path)
{
    bool pattern = false;
    for (qsizetype i = 0; i < path.size() && !pattern; ++i) {
        if (path[i] == u'\\')
            ++i;
        else
            pattern = path[i] == u'*' || path[i] == u'?' || path[i] == u'[';
    }
    if (!pattern)
        return path; // taken literally
    const qsizetype nameStart = path.lastIndexOf(u'/') + 1;
    QString argument = path.first(nameStart);
    for (const QChar c : QStringView(path).sliced(nameStart)) {
        if (c == u'*' || c == u'?' || c == u'[') {
            argument.append(u'[');
            argument.append(c);
            argument.append(u']');
        } else {
            if (c == u'\\')
                argument.append(u'\\');
            argument.append(c);
        }
    }
    return argument;
}

/// unzip's messages as lines, blank ones left out; "…" ends them when more were said than kept.
QStringList messageLines(const QByteArray &said)
{
    QStringList lines;
    for (const QString &line : QString::fromUtf8(said).split(u'\n')) {
        if (!line.trimmed().isEmpty())
            lines.append(line.trimmed());
    }
    if (said.size() >= keptOutput)
        lines.append(u"…"_s);
    return lines;
}

/// An entry's name as a pattern that matches only itself: unzip reads member names as
/// wildcards. A byte past ASCII becomes "?", which unzip matches against any one byte: the
/// argument then needs no encoding, and unzip may have turned a Windows code page byte into
/// another one already. Only a name of the same length and the same ASCII bytes matches,
/// which is a used entry too.
QString memberPattern(QByteArrayView name)
{
    QString pattern;
    for (const char c : name) {
        if (quint8(c) >= 0x80) {
            pattern.append(u'?');
            continue;
        }
        if (c == '[' || c == '*' || c == '?' || c == '\\')
            pattern.append(u'\\');
        pattern.append(QLatin1Char(c));
    }
    return pattern;
}

struct UnzipRun
{
    int status = 0;
    bool crashed = false;
    QStringList messages;
};

/// Runs `program` with `arguments`; no file it writes may grow past `largestFile` bytes.
UnzipRun runUnzip(const QString &program, const QStringList &arguments, quint64 largestFile)
{
    QProcess unzip;
    unzip.setProgram(program);
    unzip.setArguments(arguments);
    unzip.setInputChannelMode(QProcess::ForwardedInputChannel);
    unzip.setProcessChannelMode(QProcess::MergedChannels);
#if defined(Q_OS_UNIX)
    unzip.setChildProcessModifier([largestFile] {
        // Without a controlling terminal, unzip cannot ask for the password of an encrypted
        // archive (it asks on /dev/tty, whatever its input is) and fails instead of blocking
        // the window forever when the program was started from a terminal.
        ::setsid();
        const rlimit fileSize{largestFile, largestFile};
        ::setrlimit(RLIMIT_FSIZE, &fileSize);
    });
#else
    Q_UNUSED(largestFile);
#endif
    unzip.start();
    if (!unzip.waitForStarted(-1))
        throw PlatformError(unzip.errorString());
    // Read while it runs, so that a chatty unzip never stalls on a full pipe; keep a bounded
    // part of it.
    QByteArray said;
    const auto keep = [&] {
        const QByteArray chunk = unzip.readAll();
        said += QByteArrayView(chunk).first(
            std::min(chunk.size(), std::max<qsizetype>(0, keptOutput - said.size())));
    };
    while (unzip.state() != QProcess::NotRunning) {
        unzip.waitForReadyRead(-1);
        keep();
    }
    keep();
    // For a child ended by a signal, Qt keeps the signal's number as the exit code.
    return {unzip.exitCode(), unzip.exitStatus() == QProcess::CrashExit, messageLines(said)};
}

/// Throws PackageLimitError for a file below `folder` larger than `limit`.
void checkUnpackedFiles(const QString &folder, quint64 limit)
{
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
         it.hasNext();) {
        const QFileInfo file = it.nextFileInfo();
        if (!file.isSymLink() && quint64(file.size()) > limit)
            throw PackageLimitError(
                u"Zip açılmadı: «"_s + file.filePath().mid(folder.size() + 1) +
                u"» açıldığında bildirdiğinden büyük çıktı; bu dosya en çok "_s +
                QLocale(QLocale::Turkish, QLocale::Turkey)
                    .formattedDataSize(qint64(limit), 1, QLocale::DataSizeTraditionalFormat) +
                u" olabilir."_s);
    }
}
} // namespace

ZipExtractorError ZipExtractorError::unzipFailed(int status, const QStringList &messages)
{
    return {status, messages, u"Failed to extract firmware zip (exit "_s + QString::number(status) + u")."_s};
}

void ZipExtractor::extract(const QUrl &zip, const QUrl &destination)
{
    extract(zip, destination, systemUnzip);
}

void ZipExtractor::extract(const QUrl &zip, const QUrl &destination, const QString &unzipProgram)
{
    const QString archive = unzipArchiveArgument(zip.toLocalFile());
    // What the zip declares is read before anything is made or unpacked. A file without a
    // listing we can read is only listed by unzip, which says in its own words what is wrong.
    const std::optional<ZipListing> listing = readZipListing(zip.toLocalFile());
    if (!listing) {
        const UnzipRun run = runUnzip(unzipProgram, {u"-l"_s, archive}, 0);
        throw ZipExtractorError::unzipFailed(run.status == 0 ? unreadableDirectory : run.status,
                                             run.messages);
    }
    checkPackageLimits(*listing);
    const QString folder = destination.toLocalFile();
    makeFolder(folder);

    // Only the used entries, smallest limit first, each group in a run of its own under its
    // limit: a listing that lies can make no file larger than its place allows, and one
    // byte over it shows which.
    std::map<quint64, QStringList> groups;
    for (const UsedEntry &used : usedEntries(*listing))
        groups[used.limit].append(memberPattern(used.entry.name));
    for (const auto &[limit, patterns] : groups) {
        const UnzipRun run =
            runUnzip(unzipProgram, QStringList{u"-oq"_s, archive} + patterns + QStringList{u"-d"_s, folder},
                     limit + 1);
        checkUnpackedFiles(folder, limit);
        if (run.crashed || run.status != 0)
            throw ZipExtractorError::unzipFailed(run.status, run.messages);
    }
}
