// Signed firmware packages: a zip signed by the vendor's tool, changed in one way after
// signing, as the updater loads it and as the tool's verify judges it.
#include "flashmanager.h"
#include "packagesignature.h"
#include "packagesigning.h"
#include "testsupport.h"
#include "zipextractor.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

using Files = QMap<QString, QByteArray>;
using Status = FlashManager::OperationStatus;

namespace {
const auto manifestEntry = u"olvex-manifest.json"_s;
const auto signatureEntry = u"olvex-manifest.sig"_s;
const auto invalid =
    u"Paket imzası geçersiz: dosyalar değiştirilmiş olabilir. Paketi Vardel'den yeniden isteyin."_s;
const auto unsignedWarning = u"İmzasız paket: yalnızca güvendiğiniz bir kaynaktan geldiyse yükleyin."_s;
const auto signedOutcome = u"signed"_s;
const auto unsignedOutcome = u"unsigned"_s;

QByteArray keyFrom(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? fromBase64(file.readAll()).value_or(QByteArray()) : QByteArray();
}
} // namespace

class TestPackageSignature : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    PlatformPaths m_paths;
    QString m_secretFile;
    QString m_publicFile;
    QByteArray m_secretKey;
    QByteArray m_publicKey;
    QString m_signingRefusal; ///< what the tool said when it would not sign

    [[nodiscard]] QString path(const QString &relative) const { return m_root.filePath(relative); }

    /// Every file of a zip, by its path inside it.
    Files unpacked(const QString &zip)
    {
        const QString folder = path(u"unpacked"_s);
        if (QFileInfo::exists(folder))
            removeTree(folder);
        ZipExtractor::extract(QUrl::fromLocalFile(zip), QUrl::fromLocalFile(folder));
        Files files;
        for (const QUrl &file : regularFiles(QUrl::fromLocalFile(folder))) {
            QFile content(file.toLocalFile());
            if (content.open(QIODevice::ReadOnly))
                files.insert(QDir(folder).relativeFilePath(file.toLocalFile()), content.readAll());
        }
        return files;
    }

    /// An ESP32-S3 build signed by the tool with the trusted key, then changed as `change` says.
    QString package(const QString &change)
    {
        Files build = esp32s3Build();
        // The same recipes as the build's, with one field changed.
        ImageRecipe bootloader{.minRevisionFull = 1, .dataSize = 2048, .descriptor = {}};
        ImageRecipe application{.dataSize = 8192, .descriptor = DescriptorRecipe{}};
        if (change == u"built for ESP32-S2"_s)
            build[u"build/sketch.ino.bin"_s] = espImage({.chipId = 2, .dataSize = 8192, .descriptor = {}});
        makeZip(path(u"built.zip"_s), build);
        if (change.startsWith(u"unsigned"_s))
            return path(u"built.zip"_s);
        QDir(m_root.path()).mkpath(u".olvex-sign-killed/package"_s); // what a killed run leaves
        try {
            signPackage(path(u"built.zip"_s), path(u"signed.zip"_s), m_secretFile, m_paths);
        } catch (const SigningError &error) {
            m_signingRefusal = error.description();
            return path(u"built.zip"_s);
        }
        // Readable by all, as any release file; nothing of the work left beside it.
        if (QFile::permissions(path(u"signed.zip"_s)) !=
            (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup |
             QFile::ReadOther))
            qFatal("the signed zip is not 0644");

        Files files = unpacked(path(u"signed.zip"_s));
        QByteArray &manifest = files[manifestEntry];
        QByteArray &signature = files[signatureEntry];
        QJsonObject object = QJsonDocument::fromJson(manifest).object();
        const KeyPair other = KeyPair::generate();
        if (change == u"bootloader"_s)
            files[u"build/sketch.ino.bootloader.bin"_s] = espImage(bootloader);
        else if (change == u"partition table"_s) {
            QList<PartitionRecipe> partitions = defaultPartitions();
            partitions[0].label = "nvt";
            files[u"build/sketch.ino.partitions.bin"_s] = partitionTable(partitions);
        } else if (change == u"boot_app0.bin"_s)
            files[u"build/boot_app0.bin"_s][100] ^= 1;
        else if (change == u"application"_s) {
            application.descriptor->version = "6.6.6";
            files[u"build/sketch.ino.bin"_s] = espImage(application);
        } else if (change == u"manifest version"_s)
            manifest.replace("\"1.4.2\"", "\"1.4.3\"");
        else if (change == u"other key"_s) {
            manifest.replace(keyId(m_publicKey).toLatin1(), keyId(other.publicKey).toLatin1());
            signature = signManifest(manifest, other.secretKey);
        } else if (change == u"three images"_s) {
            QJsonArray images = object.value(u"images"_s).toArray();
            images.removeAt(2);
            object.insert(u"images"_s, images);
            manifest = QJsonDocument(object).toJson();
            signature = signManifest(manifest, m_secretKey);
        } else if (change == u"five images"_s) {
            QJsonArray images = object.value(u"images"_s).toArray();
            QJsonObject gone = images.first().toObject();
            gone.insert(u"path"_s, u"build/gone.ino.bin"_s);
            images.append(gone);
            object.insert(u"images"_s, images);
            manifest = QJsonDocument(object).toJson();
            signature = signManifest(manifest, m_secretKey);
        } else if (change == u"format 2"_s || change == u"listed twice"_s) {
            QJsonArray images = object.value(u"images"_s).toArray();
            if (change == u"listed twice"_s)
                images.append(images.first());
            object.insert(u"images"_s, images);
            object.insert(u"format"_s, change == u"format 2"_s ? 2 : 1);
            manifest = QJsonDocument(object).toJson();
            signature = signManifest(manifest, m_secretKey);
        } else if (change == u"extra build file"_s)
            files[u"build/spare.ino.bin"_s] = files[u"build/sketch.ino.bin"_s];
        else if (change == u"truncated signature"_s)
            signature.truncate(40);
        else if (change == u"not JSON"_s) {
            manifest = "format 1, images: 4";
            signature = signManifest(manifest, m_secretKey);
        }
        makeZip(path(u"changed.zip"_s), files);
        return path(u"changed.zip"_s);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        m_paths = pathsInside(m_root.path());
        m_secretFile = path(u"keys/vardel.secret"_s);
        m_publicFile = path(u"keys/vardel.public"_s);
        QDir().mkpath(path(u"keys"_s));
        const QString id = writeKeyPair(m_secretFile, m_publicFile);
        m_secretKey = keyFrom(m_secretFile);
        m_publicKey = keyFrom(m_publicFile);
        QCOMPARE(id, keyId(m_publicKey));
        QCOMPARE(publicKeyOf(m_secretKey), m_publicKey);
        // The secret key is its owner's alone, and never overwritten.
        QVERIFY(
            !(QFile::permissions(m_secretFile) & (QFile::ReadOther | QFile::ReadGroup | QFile::WriteOther)));
        QVERIFY_THROWS_EXCEPTION(SigningError, writeKeyPair(m_secretFile, path(u"keys/new.public"_s)));
        // Both or neither: a public key that cannot be written takes its secret key along.
        QVERIFY_THROWS_EXCEPTION(SigningError, writeKeyPair(path(u"keys/lone.secret"_s), path(u"none/p"_s)));
        QVERIFY(!QFileInfo::exists(path(u"keys/lone.secret"_s)));
    }

    void cleanup()
    {
        for (const QString &zip : {u"built.zip"_s, u"signed.zip"_s, u"changed.zip"_s})
            QFile::remove(path(zip));
        m_signingRefusal.clear();
    }

    void load_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("required");
        QTest::addColumn<QString>("outcome"); // signed, unsigned, or the refusal shown
        QTest::addColumn<QString>("detail");  // why verify, and a refusing updater, say no

        const QString notSigned = u"the package is not signed"_s;
        QTest::newRow("as signed") << QString() << true << signedOutcome << QString();
        QTest::newRow("unsigned") << u"unsigned"_s << false << unsignedOutcome << notSigned;
        QTest::newRow("unsigned, a signature required")
            << u"unsigned"_s << true
            << u"İmzasız paket: bu güncelleyici yalnızca Vardel imzalı paketleri yükler. Paketi Vardel'den "
               u"yeniden "
               u"isteyin."_s
            << notSigned;
        for (const QString &file : {u"bootloader"_s, u"partitions"_s, u"boot_app0"_s}) {
            const QString change = file == u"partitions"_s  ? u"partition table"_s
                                   : file == u"boot_app0"_s ? u"boot_app0.bin"_s
                                                            : file;
            const QString name =
                file == u"boot_app0"_s ? u"build/boot_app0.bin"_s : u"build/sketch.ino."_s + file + u".bin"_s;
            QTest::newRow(qPrintable(u"changed "_s + change))
                << change << false << invalid << name + u" does not match the manifest"_s;
        }
        QTest::newRow("changed application")
            << u"application"_s << false << invalid << u"build/sketch.ino.bin does not match the manifest"_s;
        QTest::newRow("changed version in the manifest")
            << u"manifest version"_s << false << invalid << u"the signature does not match the manifest"_s;
        QTest::newRow("signed by another key")
            << u"other key"_s << false << invalid << u", which is not trusted here"_s;
        QTest::newRow("manifest listing three images")
            << u"three images"_s << false << invalid
            << u"build/boot_app0.bin is not listed in the manifest"_s;
        QTest::newRow("manifest listing five images")
            << u"five images"_s << false << invalid
            << u"the manifest lists build/gone.ino.bin, which the package does not use"_s;
        QTest::newRow("extra build file") << u"extra build file"_s << false << invalid
                                          << u"build/spare.ino.bin is not listed in the manifest"_s;
        QTest::newRow("truncated signature")
            << u"truncated signature"_s << false << invalid << u"the signature is not 64 bytes of base64"_s;
        QTest::newRow("manifest of a newer format")
            << u"format 2"_s << false
            << u"Bu paket daha yeni bir güncelleyici gerektiriyor. Güncelleyicinin yeni sürümünü kurun ya da "
               u"Vardel'den isteyin."_s
            << u"the manifest is of format 2, newer than this updater reads"_s;
        QTest::newRow("image listed twice")
            << u"listed twice"_s << false << invalid << u"is listed twice in the manifest"_s;
        QTest::newRow("manifest not JSON")
            << u"not JSON"_s << false << invalid << u"the manifest is not JSON of format 1"_s;
        // The tool refuses what the updater refuses, and says so in the updater's words.
        QTest::newRow("refused before signing")
            << u"built for ESP32-S2"_s << false
            << u"sketch.ino.bin: bu firmware ESP32-S2 için derlenmiş; bu cihaz ESP32-S3."_s << QString();
    }

    void load()
    {
        QFETCH(QString, change);
        QFETCH(bool, required);
        QFETCH(QString, outcome);
        QFETCH(QString, detail);
        const QString zip = package(change);
        if (change == u"built for ESP32-S2"_s) {
            QVERIFY2(m_signingRefusal.contains(outcome), qPrintable(m_signingRefusal));
            QVERIFY(!QFile::exists(path(u"signed.zip"_s)));
        }
        QCOMPARE(QDir(m_root.path()).entryList({u".olvex-sign-*"_s}, QDir::Dirs | QDir::Files | QDir::Hidden),
                 {});

        FlashManager manager(m_paths, {{m_publicKey}, required});
        manager.loadFirmware(QUrl::fromLocalFile(zip));
        const QString id = keyId(m_publicKey);
        if (outcome == signedOutcome || outcome == unsignedOutcome) {
            QCOMPARE(manager.firmwareImages().size(), 4);
            const bool isSigned = outcome == signedOutcome;
            QCOMPARE(manager.packageInspection()->signingKeyId, isSigned ? std::optional(id) : std::nullopt);
            QTRY_VERIFY(logLines(manager.logger())
                            .contains(isSigned ? QString(u"OK Vardel imzalı paket (anahtar "_s + id + u")."_s)
                                               : QString(u"WARN "_s + unsignedWarning)));
        } else {
            QCOMPARE(manager.status(), Status::error);
            QCOMPARE(manager.statusDetail(), outcome);
            QCOMPARE(manager.firmwareImages(), {});
            QCOMPARE(manager.selectedFirmwareZipName(), std::nullopt);
            // Shown in order: what to do, then why in Turkish (no log file in this test).
            const QStringList hint = manager.failureHint().split(u'\n');
            const bool invalid = outcome.startsWith(u"Paket imzası geçersiz"_s);
            QCOMPARE(hint.first() == outcome, change != u"built for ESP32-S2"_s); // our own words
            QCOMPARE(hint.size(), invalid ? 2 : 1);
            if (!detail.isEmpty())
                QTRY_VERIFY2(logLines(manager.logger()).join(u'\n').contains(u"INFO İmza denetimi: "_s),
                             qPrintable(logLines(manager.logger()).join(u'\n')));
            QVERIFY(logLines(manager.logger()).join(u'\n').contains(detail));
        }

        // verify passes exactly the packages the updater shows as signed, for the same reason.
        try {
            QCOMPARE(verifyPackage(zip, m_publicFile, m_paths), id);
            QCOMPARE(outcome, signedOutcome);
        } catch (const SigningError &error) {
            QVERIFY(outcome != signedOutcome);
            QVERIFY2(error.description().contains(detail.isEmpty() ? outcome : detail),
                     qPrintable(error.description()));
        }
    }
};

OLVEX_TEST_MAIN(TestPackageSignature)
#include "tst_packagesignature.moc"
