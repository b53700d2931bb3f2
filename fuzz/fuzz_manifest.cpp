#include "fuzzsupport.h"
#include "packagesignature.h"

#include <QDir>

using namespace Qt::StringLiterals;

// The input is the manifest, signed here with a key the policy trusts, so that every input
// reaches the reading of its JSON and the comparison with the package's files.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const KeyPair key = KeyPair::generate();
    const QString folder = scratchFolder() + u"/signed"_s;
    QDir().mkpath(folder + u"/build"_s);
    static const QList<FirmwareImage> images = [&] {
        const QString app = folder + u"/build/sketch.ino.bin"_s;
        writeInput(app, reinterpret_cast<const uint8_t *>("\xE9\x01"), 2);
        return QList<FirmwareImage>{FirmwareImage(QUrl::fromLocalFile(app), 0x10000)};
    }();
    const QByteArray manifest(reinterpret_cast<const char *>(data), qsizetype(size));
    writeInput(folder + u'/' + manifestFileName, data, size);
    const QByteArray signature = signManifest(manifest, key.secretKey);
    writeInput(folder + u'/' + signatureFileName, reinterpret_cast<const uint8_t *>(signature.constData()),
               size_t(signature.size()));
    try {
        (void)checkSignature(QUrl::fromLocalFile(folder), images, {{key.publicKey}, true});
    } catch (const PackageSignatureError &) {
    }
    return 0;
}
