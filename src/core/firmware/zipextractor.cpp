#include "zipextractor.h"

#include "ziplisting.h"

#include <QFile>
#include <QProcess>
#include <QStringList>

#include <algorithm>

#include <filesystem>
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
    // What the zip declares is read before anything is made or unpacked. A file without a
    // listing we can read goes to unzip, which says in its own words what is wrong with it.
    if (const std::optional<ZipListing> listing = readZipListing(zip.toLocalFile()))
        checkPackageLimits(*listing);
    const QString folder = destination.toLocalFile();
    makeFolder(folder);

    QProcess unzip;
    unzip.setProgram(unzipProgram);
    unzip.setArguments(QStringList{u"-oq"_s, unzipArchiveArgument(zip.toLocalFile()), u"-d"_s, folder});
    unzip.setInputChannelMode(QProcess::ForwardedInputChannel);
    unzip.setProcessChannelMode(QProcess::MergedChannels);
#if defined(Q_OS_UNIX)
    unzip.setChildProcessModifier([] {
        // Without a controlling terminal, unzip cannot ask for the password of an encrypted
        // archive (it asks on /dev/tty, whatever its input is) and fails instead of blocking
        // the window forever when the program was started from a terminal.
        ::setsid();
        // A listing can lie about sizes: no file unzip writes may outgrow the flash either.
        const rlimit fileSize{PackageLimits::largestFlash, PackageLimits::largestFlash};
        ::setrlimit(RLIMIT_FSIZE, &fileSize);
    });
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
    const int status = unzip.exitCode();
    if (unzip.exitStatus() == QProcess::CrashExit || status != 0)
        throw ZipExtractorError::unzipFailed(status, messageLines(said));
}
