#pragma once

#include "error.h"
#include "firmwarepackage.h"
#include "packageinspection.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

struct PackageInspection;

/// The two files a signed package carries at the top of its zip.
inline constexpr QStringView manifestFileName = u"olvex-manifest.json";
inline constexpr QStringView signatureFileName = u"olvex-manifest.sig";

/// Whose signatures the updater trusts and whether it loads unsigned packages.
struct SignaturePolicy
{
    QList<QByteArray> trustedKeys; ///< raw Ed25519 public keys
    bool requireSignature = false;

    /// What the program was built with (OLVEX_TRUSTED_KEYS, OLVEX_REQUIRE_SIGNATURE).
    [[nodiscard]] static SignaturePolicy builtIn();
};

/// A package whose signature does not prove it came unchanged from a trusted key, an
/// unsigned package where a signature is required, or one signed in a newer manifest format. `detail` says
/// why, in English, for the log and the vendor's signing tool; `reason` says it in Turkish for the user, when
/// there is more to say than the description.
class PackageSignatureError final : public Error
{
public:
    enum class Kind { invalid, missing, newerFormat };

    PackageSignatureError(Kind kind, const QString &detail, const QString &reason = {});
    [[nodiscard]] Kind kind() const { return m_kind; }
    [[nodiscard]] const QString &detail() const { return m_detail; }
    [[nodiscard]] const QString &reason() const { return m_reason; }

private:
    Kind m_kind;
    QString m_detail;
    QString m_reason;
};

/// An Ed25519 key pair, raw bytes (the secret key holds the public one in its second half).
struct KeyPair
{
    QByteArray publicKey;
    QByteArray secretKey;

    [[nodiscard]] static KeyPair generate();
};

/// The first 8 bytes of the SHA-256 of a public key, in lower-case hex.
[[nodiscard]] QString keyId(const QByteArray &publicKey);
[[nodiscard]] QByteArray publicKeyOf(const QByteArray &secretKey);
[[nodiscard]] QByteArray toBase64(const QByteArray &bytes);
/// Blanks and line ends around and inside the text are ignored.
[[nodiscard]] std::optional<QByteArray> fromBase64(const QByteArray &text);

/// The manifest of a package opened in `folder`: the application's identity and every image
/// that comes from the zip with its path, offset, size and SHA-256. A boot_app0.bin that the
/// updater supplies itself is not part of the package and is not listed.
[[nodiscard]] QByteArray makeManifest(const QUrl &folder, const QList<FirmwareImage> &images,
                                      const PackageInspection &inspection, const QByteArray &publicKey,
                                      const QDateTime &signedAt);
/// The detached signature of `manifest`, as base64 text.
[[nodiscard]] QByteArray signManifest(const QByteArray &manifest, const QByteArray &secretKey);

/// The id of the key that signed the package opened in `folder`, or none when it carries no
/// manifest. Throws PackageSignatureError for a manifest that does not hold for `images`, or
/// for an unsigned package when the policy requires a signature. The images' digests come from
/// `inspection` where it has them, so that no file is read twice.
[[nodiscard]] std::optional<QString> checkSignature(const QUrl &folder, const QList<FirmwareImage> &images,
                                                    const SignaturePolicy &policy,
                                                    const PackageInspection *inspection = nullptr);
