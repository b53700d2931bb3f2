#include "packagesigning.h"

#include "openedpackage.h"
#include "packagesignature.h"
#include "rawfilenames.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {
const auto zipProgram = u"/usr/bin/zip"_s;
/// The name of a signing run's work folder beside its output.
const auto workPrefix = u".olvex-sign-"_s;

void writeNewFile(const QString &path, const QByteArray &content, QFileDevice::Permissions permissions)
{
    QFile file(path);
    // NewOnly: a key is never overwritten, and the file never exists with looser rights.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, permissions))
        throw SigningError(path + u": cannot write ("_s + file.errorString() + u")"_s);
    if (file.write(content) != content.size() || !file.setPermissions(permissions) || !file.flush()) {
        const QString reason = file.errorString();
        file.remove(); // ours: made just now, and never left half written
        throw SigningError(path + u": cannot write ("_s + reason + u")"_s);
    }
}

QByteArray readKey(const QString &path, qsizetype size, const QString &what)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw SigningError(path + u": cannot read ("_s + file.errorString() + u")"_s);
    const std::optional<QByteArray> key = fromBase64(file.read(1024).trimmed());
    if (!key || key->size() != size)
        throw SigningError(path + u" is not "_s + what + u" made by olvex-sign keygen"_s);
    return *key;
}

/// The package unpacked into `folder`, as the updater would load it.
OpenedPackage openAsUpdater(const QString &zip, const QString &folder, const PlatformPaths &paths)
{
    try {
        return openPackage(QUrl::fromLocalFile(zip), QUrl::fromLocalFile(folder), paths);
    } catch (const Error &error) {
        throw SigningError(QFileInfo(zip).fileName() + u" is refused by the updater: "_s +
                           error.description());
    }
}

/// A temporary folder that must exist for the work to go on.
void requireValid(const QTemporaryDir &work)
{
    if (!work.isValid())
        throw SigningError(u"cannot make a temporary folder: "_s + work.errorString());
}

/// Checks `zip` against `publicKey`, unpacking it into `folder`.
QString verifyWithKey(const QString &zip, const QByteArray &publicKey, const QString &folder,
                      const PlatformPaths &paths)
{
    const OpenedPackage package = openAsUpdater(zip, folder, paths);
    try {
        if (const std::optional<QString> id =
                checkSignature(QUrl::fromLocalFile(folder), package.images, {{publicKey}, true}))
            return *id;
        throw PackageSignatureError(PackageSignatureError::Kind::missing, u"the package is not signed"_s);
    } catch (const PackageSignatureError &error) {
        throw SigningError(QFileInfo(zip).fileName() + u" does not verify: "_s + error.detail());
    }
}

void addEntries(const QString &zip, const QString &folder, const QStringList &entries)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(zipProgram, QStringList{u"-q"_s, u"-X"_s, zip} + entries);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        throw SigningError(zipProgram + u" failed: "_s +
                           (process.error() == QProcess::FailedToStart
                                ? process.errorString()
                                : QString::fromLocal8Bit(process.readAll()).trimmed()));
}
} // namespace

QString writeKeyPair(const QString &secretPath, const QString &publicPath)
{
    for (const QString &path : {secretPath, publicPath}) {
        if (QFileInfo::exists(path))
            throw SigningError(path + u" exists already; a key is never overwritten"_s);
    }
    const KeyPair pair = KeyPair::generate();
    writeNewFile(secretPath, toBase64(pair.secretKey) + '\n',
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    try {
        writeNewFile(publicPath, toBase64(pair.publicKey) + '\n',
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                         QFileDevice::ReadOther);
    } catch (const SigningError &) {
        // Both or neither: a secret key without its public half signs nothing anyone checks.
        QFile::remove(secretPath);
        throw;
    }
    return keyId(pair.publicKey);
}

QString signPackage(const QString &in, const QString &out, const QString &secretKeyPath,
                    const PlatformPaths &paths)
{
    const QByteArray secretKey = readKey(secretKeyPath, 64, u"a secret key"_s);
    const QByteArray publicKey = publicKeyOf(secretKey);
    // All the work happens in one folder beside `out`, removed on the way out; one left by a
    // run that was killed goes now.
    const QString outFolder = QFileInfo(out).absolutePath();
    for (const QFileInfo &leftover :
         QDir(outFolder).entryInfoList({workPrefix + u'*'}, QDir::Dirs | QDir::Files | QDir::Hidden)) {
        if (leftover.isDir())
            removeFolderTree(leftover.filePath());
        else
            QFile::remove(leftover.filePath());
    }
    const QTemporaryDir work(outFolder + u'/' + workPrefix + u"XXXXXX"_s);
    requireValid(work);
    const OpenedPackage package = openAsUpdater(in, work.filePath(u"package"_s), paths);
    const QDir folder(work.filePath(u"package"_s));
    if (folder.exists(manifestFileName.toString()) || folder.exists(signatureFileName.toString()))
        throw SigningError(QFileInfo(in).fileName() + u" is signed already; sign the zip the build made"_s);

    const QByteArray manifest = makeManifest(QUrl::fromLocalFile(folder.path()), package.images,
                                             package.inspection, publicKey, QDateTime::currentDateTimeUtc());
    const QString entries = work.filePath(u"entries"_s);
    QDir().mkpath(entries);
    writeNewFile(entries + u'/' + manifestFileName.toString(), manifest,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    writeNewFile(entries + u'/' + signatureFileName.toString(), signManifest(manifest, secretKey),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    // Made beside `out` and renamed over it once whole and verified: never a half-made zip.
    const QString partial = work.filePath(u"signed.zip"_s);
    if (!QFile::copy(in, partial))
        throw SigningError(out + u": cannot write beside it"_s);
    addEntries(partial, entries, {manifestFileName.toString(), signatureFileName.toString()});
    const QString id = verifyWithKey(partial, publicKey, work.filePath(u"verify"_s), paths);
    QFile::setPermissions(partial, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                       QFileDevice::ReadOther);
    if (std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(out).constData()) != 0)
        throw SigningError(out + u": cannot write ("_s + QString::fromLocal8Bit(std::strerror(errno)) +
                           u")"_s);
    return id;
}

QString verifyPackage(const QString &zip, const QString &publicKeyPath, const PlatformPaths &paths)
{
    const QByteArray publicKey = readKey(publicKeyPath, 32, u"a public key"_s);
    const QTemporaryDir work;
    requireValid(work);
    return verifyWithKey(zip, publicKey, work.filePath(u"package"_s), paths);
}
