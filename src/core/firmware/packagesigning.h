#pragma once

#include "error.h"
#include "platformpaths.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

/// What the vendor's signing tool reports, in English.
class SigningError final : public Error
{
public:
    using Error::Error;
};

/// Makes a new Ed25519 key pair and writes it as base64 text: the secret one readable by
/// its owner only. Never replaces an existing file. Returns the key id.
QString writeKeyPair(const QString &secretPath, const QString &publicPath);

/// Signs the firmware zip `in` with the secret key in `secretKeyPath` and writes the signed
/// copy to `out`. The package goes through what a load of the updater does first, so one
/// the updater refuses is never signed. `out` appears whole or not at all. Returns the key id.
QString signPackage(const QString &in, const QString &out, const QString &secretKeyPath,
                    const PlatformPaths &paths);

/// Opens `zip` as the updater does and checks that the public key in `publicKeyPath` signed
/// it and that it holds what the manifest lists. Returns the key id; throws SigningError.
QString verifyPackage(const QString &zip, const QString &publicKeyPath, const PlatformPaths &paths);
