#include "packagesignature.h"

#include "packageinspection.h"
#include "sha256.h"

#include "ziplisting.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sodium.h>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
constexpr int manifestFormat = 1;
const auto manifestChip = u"esp32s3"_s;

void initialiseSodium()
{
    static const bool ready = sodium_init() >= 0;
    if (!ready)
        throw PlatformError(u"libsodium could not be initialised"_s);
}

/// `detail` in English for the log and the signing tool, `reason` in Turkish for the user.
[[noreturn]] void refuse(const QString &detail, const QString &reason)
{
    throw PackageSignatureError(PackageSignatureError::Kind::invalid, detail, reason);
}

QString quoted(const QString &name)
{
    return u'«' + name + u'»';
}

[[noreturn]] void refuseUnreadable(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    refuse(name + u" cannot be read"_s, quoted(name) + u" okunamıyor."_s);
}

[[noreturn]] void refuseUnlisted(const QString &path)
{
    refuse(path + u" is not listed in the manifest"_s, quoted(path) + u" imza listesinde yok."_s);
}

std::optional<QByteArray> readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return std::nullopt;
    if (quint64(file.size()) > PackageLimits::largestManifest || !file.open(QIODevice::ReadOnly))
        refuseUnreadable(path);
    return file.readAll();
}

QString sha256Hex(const QString &path)
{
    QFile file(path);
    Sha256 hash;
    if (!file.open(QIODevice::ReadOnly))
        refuseUnreadable(path);
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (qint64 read; (read = file.read(chunk.data(), chunk.size())) != 0;) {
        if (read < 0)
            refuseUnreadable(path);
        hash.add(QByteArrayView(chunk).first(read));
    }
    return QString::fromLatin1(hash.result().toHex());
}

/// The image's path inside the zip, or nothing when the file lies outside the package.
std::optional<QString> pathInPackage(const QUrl &folder, const FirmwareImage &image)
{
    const QString root = QDir::cleanPath(folder.toLocalFile()) + u'/';
    const QString file = QDir::cleanPath(image.url.toLocalFile());
    if (!file.startsWith(root))
        return std::nullopt;
    return file.mid(root.size());
}

struct ListedImage
{
    qint64 offset = -1;
    qint64 size = -1;
    QString sha256;
};

/// The images a manifest lists, by path; nothing unless it is an object of our format.
/// The images a signed manifest lists. Each way a manifest can be unusable has its own words.
QHash<QString, ListedImage> listedImages(const QJsonDocument &manifest)
{
    const QJsonObject object = manifest.object();
    const int format = object.value(u"format"_s).toInt();
    if (manifest.isObject() && format > manifestFormat)
        throw PackageSignatureError(
            PackageSignatureError::Kind::newerFormat,
            u"the manifest is of format %1, newer than this updater reads"_s.arg(format));
    if (!manifest.isObject() || format != manifestFormat || !object.value(u"images"_s).isArray())
        refuse(u"the manifest is not JSON of format 1"_s, u"İmza listesi okunamıyor."_s);
    if (const QString chip = object.value(u"chip"_s).toString(); chip != manifestChip)
        refuse(u"the manifest is for the chip "_s + chip,
               u"İmza listesi başka bir çip için: "_s + chip + u'.');
    QHash<QString, ListedImage> listed;
    for (const QJsonValue &value : object.value(u"images"_s).toArray()) {
        const QJsonObject entry = value.toObject();
        const QString path = entry.value(u"path"_s).toString();
        if (path.isEmpty())
            refuse(u"the manifest lists an image without a path"_s, u"İmza listesi okunamıyor."_s);
        if (listed.contains(path))
            refuse(path + u" is listed twice in the manifest"_s,
                   quoted(path) + u" imza listesinde iki kez var."_s);
        listed.insert(path, {entry.value(u"offset"_s).toInteger(-1), entry.value(u"size"_s).toInteger(-1),
                             entry.value(u"sha256"_s).toString()});
    }
    return listed;
}

/// The trusted key that made `signature` over `manifest`.
std::optional<QByteArray> signingKey(const QByteArray &manifest, const QByteArray &signature,
                                     const QList<QByteArray> &trustedKeys)
{
    for (const QByteArray &key : trustedKeys) {
        if (key.size() == crypto_sign_PUBLICKEYBYTES &&
            crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(signature.constData()),
                                        reinterpret_cast<const unsigned char *>(manifest.constData()),
                                        quint64(manifest.size()),
                                        reinterpret_cast<const unsigned char *>(key.constData())) == 0)
            return key;
    }
    return std::nullopt;
}

void checkImages(const QUrl &folder, const QList<FirmwareImage> &images, QHash<QString, ListedImage> listed,
                 const PackageInspection *inspection)
{
    const auto digest = [inspection](const FirmwareImage &image) {
        const ImageCheck *check = inspection ? inspection->find(image.id) : nullptr;
        return check && !check->sha256.isEmpty() ? QString::fromLatin1(check->sha256.toHex())
                                                 : sha256Hex(image.url.toLocalFile());
    };
    for (const FirmwareImage &image : images) {
        const std::optional<QString> path = pathInPackage(folder, image);
        if (!path)
            continue; // supplied by the updater, not by whoever sent the zip
        const auto entry = listed.constFind(*path);
        if (entry == listed.cend())
            refuseUnlisted(*path);
        if (entry->offset != image.offset || entry->size != image.size || entry->sha256 != digest(image))
            refuse(*path + u" does not match the manifest"_s,
                   quoted(*path) + u" imzalandıktan sonra değiştirilmiş."_s);
        listed.erase(entry);
    }
    if (!listed.isEmpty())
        refuse(u"the manifest lists "_s + listed.keys().join(u", "_s) + u", which the package does not use"_s,
               u"İmza listesindeki dosyalar pakette kullanılmıyor: "_s + listed.keys().join(u", "_s) + u'.');
    // A second candidate for an image would be picked instead of the signed one by a
    // package laid out in another order: none may be there unlisted.
    for (const QUrl &file : regularFiles(folder)) {
        const FirmwareImage candidate(file, 0);
        if (!isBuildFileName(candidate.fileName))
            continue;
        const QString path = *pathInPackage(folder, candidate);
        const bool used = std::any_of(images.cbegin(), images.cend(), [&](const FirmwareImage &image) {
            return pathInPackage(folder, image) == path;
        });
        if (!used)
            refuseUnlisted(path);
    }
}
} // namespace

PackageSignatureError::PackageSignatureError(Kind kind, const QString &detail, const QString &reason)
    : Error(
          kind == Kind::invalid
              ? u"Paket imzası geçersiz: dosyalar değiştirilmiş olabilir. Paketi Vardel'den "
                u"yeniden isteyin."_s
          : kind == Kind::missing
              ? u"İmzasız paket: bu güncelleyici yalnızca Vardel imzalı paketleri yükler. Paketi Vardel'den "
                u"yeniden isteyin."_s
              : u"Bu paket daha yeni bir güncelleyici gerektiriyor. Güncelleyicinin yeni sürümünü kurun ya "
                u"da "
                u"Vardel'den isteyin."_s),
      m_kind(kind), m_detail(detail), m_reason(reason)
{
}

KeyPair KeyPair::generate()
{
    initialiseSodium();
    KeyPair pair{QByteArray(crypto_sign_PUBLICKEYBYTES, '\0'), QByteArray(crypto_sign_SECRETKEYBYTES, '\0')};
    crypto_sign_keypair(reinterpret_cast<unsigned char *>(pair.publicKey.data()),
                        reinterpret_cast<unsigned char *>(pair.secretKey.data()));
    return pair;
}

QString keyId(const QByteArray &publicKey)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(publicKey, QCryptographicHash::Sha256).first(8).toHex());
}

QByteArray publicKeyOf(const QByteArray &secretKey)
{
    QByteArray publicKey(crypto_sign_PUBLICKEYBYTES, '\0');
    if (secretKey.size() != crypto_sign_SECRETKEYBYTES)
        return {};
    crypto_sign_ed25519_sk_to_pk(reinterpret_cast<unsigned char *>(publicKey.data()),
                                 reinterpret_cast<const unsigned char *>(secretKey.constData()));
    return publicKey;
}

QByteArray toBase64(const QByteArray &bytes)
{
    QByteArray text(
        qsizetype(sodium_base64_ENCODED_LEN(size_t(bytes.size()), sodium_base64_VARIANT_ORIGINAL)), '\0');
    sodium_bin2base64(text.data(), size_t(text.size()),
                      reinterpret_cast<const unsigned char *>(bytes.constData()), size_t(bytes.size()),
                      sodium_base64_VARIANT_ORIGINAL);
    text.chop(1); // the terminating zero
    return text;
}

std::optional<QByteArray> fromBase64(const QByteArray &text)
{
    initialiseSodium();
    QByteArray bytes(text.size(), '\0');
    size_t length = 0;
    const char *end = nullptr;
    if (sodium_base642bin(reinterpret_cast<unsigned char *>(bytes.data()), size_t(bytes.size()),
                          text.constData(), size_t(text.size()), " \t\r\n", &length, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != text.constData() + text.size())
        return std::nullopt;
    bytes.truncate(qsizetype(length));
    return bytes;
}

QByteArray makeManifest(const QUrl &folder, const QList<FirmwareImage> &images,
                        const PackageInspection &inspection, const QByteArray &publicKey,
                        const QDateTime &signedAt)
{
    QJsonArray listed;
    for (const FirmwareImage &image : images) {
        if (const std::optional<QString> path = pathInPackage(folder, image))
            listed.append(QJsonObject{{u"path"_s, *path},
                                      {u"offset"_s, qint64(image.offset)},
                                      {u"size"_s, qint64(image.size)},
                                      {u"sha256"_s, sha256Hex(image.url.toLocalFile())}});
    }
    const AppDescriptor application = inspection.application().value_or(AppDescriptor{});
    const QJsonObject manifest{
        {u"format"_s, manifestFormat},
        {u"project"_s, application.projectName},
        {u"version"_s, application.version},
        {u"date"_s, application.date},
        {u"time"_s, application.time},
        {u"chip"_s, manifestChip},
        {u"images"_s, listed},
        {u"signedAt"_s, signedAt.toUTC().toString(Qt::ISODate)},
        {u"keyId"_s, keyId(publicKey)},
    };
    return QJsonDocument(manifest).toJson(QJsonDocument::Indented);
}

QByteArray signManifest(const QByteArray &manifest, const QByteArray &secretKey)
{
    initialiseSodium();
    QByteArray signature(crypto_sign_BYTES, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char *>(manifest.constData()),
                         quint64(manifest.size()),
                         reinterpret_cast<const unsigned char *>(secretKey.constData()));
    return toBase64(signature) + '\n';
}

std::optional<QString> checkSignature(const QUrl &folder, const QList<FirmwareImage> &images,
                                      const SignaturePolicy &policy, const PackageInspection *inspection)
{
    const QString root = folder.toLocalFile() + u'/';
    const std::optional<QByteArray> manifest = readSmallFile(root + manifestFileName.toString());
    const std::optional<QByteArray> signatureText = readSmallFile(root + signatureFileName.toString());
    if (!manifest && !signatureText) {
        if (policy.requireSignature)
            throw PackageSignatureError(PackageSignatureError::Kind::missing, u"the package is not signed"_s);
        return std::nullopt;
    }
    if (!manifest || !signatureText)
        refuse((manifest ? signatureFileName : manifestFileName).toString() + u" is missing"_s,
               quoted((manifest ? signatureFileName : manifestFileName).toString()) + u" eksik."_s);

    initialiseSodium();
    const std::optional<QByteArray> signature = fromBase64(*signatureText);
    if (!signature || signature->size() != crypto_sign_BYTES)
        refuse(u"the signature is not 64 bytes of base64: truncated or damaged"_s,
               u"İmza dosyası bozuk ya da yarım."_s);
    // The manifest is trusted only once a trusted key has signed its exact bytes.
    const QJsonDocument document = QJsonDocument::fromJson(*manifest);
    const std::optional<QByteArray> key = signingKey(*manifest, *signature, policy.trustedKeys);
    if (!key) {
        const QString claimed = document.object().value(u"keyId"_s).toString();
        const bool known = std::any_of(policy.trustedKeys.cbegin(), policy.trustedKeys.cend(),
                                       [&](const QByteArray &trusted) { return keyId(trusted) == claimed; });
        if (known || claimed.isEmpty())
            refuse(u"the signature does not match the manifest"_s,
                   u"İmza, paketin imza listesiyle uyuşmuyor."_s);
        refuse(u"signed by key "_s + claimed + u", which is not trusted here"_s,
               u"Paket bu güncelleyicinin tanımadığı bir anahtarla ("_s + claimed + u") imzalanmış."_s);
    }
    checkImages(folder, images, listedImages(document), inspection);
    return keyId(*key);
}
