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
        for (const QUrl &file : regularFiles(QUrl::fromLocalFile(folder)))
            files.insert(QDir(folder).relativeFilePath(file.toLocalFile()), readFile(file.toLocalFile()));
        return files;
    }

    /// An ESP32-S3 build signed by the tool with the trusted key, then changed as `change` says.
    QString package(const QString &change)
    {
        Files build = esp32s3Build();
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
        const QJsonObject original = object;
        QJsonArray images = object.value(u"images"_s).toArray();
        const KeyPair other = KeyPair::generate();
        // The images as the build's recipes make them, with one field changed.
        if (change == u"build/sketch.ino.bootloader.bin"_s)
            files[change] = espImage({.minRevisionFull = 1, .dataSize = 2048, .descriptor = {}});
        else if (change == u"build/sketch.ino.partitions.bin"_s) {
            QList<PartitionRecipe> partitions = defaultPartitions();
            partitions[0].label = "nvt";
            files[change] = partitionTable(partitions);
        } else if (change == u"build/boot_app0.bin"_s)
            files[change][100] ^= 1;
        else if (change == u"build/sketch.ino.bin"_s)
            files[change] = espImage({.dataSize = 8192, .descriptor = DescriptorRecipe{.version = "6.6.6"}});
        else if (change == u"manifest version"_s)
            manifest.replace("\"1.4.2\"", "\"1.4.3\"");
        else if (change == u"other key"_s) {
            manifest.replace(keyId(m_publicKey).toLatin1(), keyId(other.publicKey).toLatin1());
            signature = signManifest(manifest, other.secretKey);
        } else if (change == u"three images"_s)
            images.removeAt(2);
        else if (change == u"five images"_s) {
            QJsonObject gone = images.first().toObject();
            gone.insert(u"path"_s, u"build/gone.ino.bin"_s);
            images.append(gone);
        } else if (change == u"listed twice"_s)
            images.append(images.first());
        else if (change == u"format 2"_s)
            object.insert(u"format"_s, 2);
        else if (change == u"extra build file"_s)
            files[u"build/spare.ino.bin"_s] = files[u"build/sketch.ino.bin"_s];
        else if (change == u"truncated signature"_s)
            signature.truncate(40);
        else if (change == u"not JSON"_s) {
            manifest = "format 1, images: 4";
            signature = signManifest(manifest, m_secretKey);
        }
        // A manifest changed as JSON is signed again with the trusted key.
        object.insert(u"images"_s, images);
        if (object != original) {
            manifest = QJsonDocument(object).toJson();
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
        m_secretKey = fromBase64(readFile(m_secretFile)).value_or(QByteArray());
        m_publicKey = fromBase64(readFile(m_publicFile)).value_or(QByteArray());
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
        const auto row = [](const char *name, const QString &change, bool required, const QString &outcome,
                            const QString &detail) {
            QTest::newRow(name) << change << required << outcome << detail;
        };

        const QString notSigned = u"the package is not signed"_s;
        row("as signed", {}, true, signedOutcome, {});
        row("unsigned", u"unsigned"_s, false, unsignedOutcome, notSigned);
        row("unsigned, a signature required", u"unsigned"_s, true,
            u"İmzasız paket: bu güncelleyici yalnızca Vardel imzalı paketleri yükler. Paketi Vardel'den "
            u"yeniden isteyin."_s,
            notSigned);
        for (const QString &file :
             {u"build/sketch.ino.bootloader.bin"_s, u"build/sketch.ino.partitions.bin"_s,
              u"build/boot_app0.bin"_s, u"build/sketch.ino.bin"_s})
            QTest::newRow(qPrintable(u"changed "_s + file))
                << file << false << invalid << file + u" does not match the manifest"_s;
        row("changed version in the manifest", u"manifest version"_s, false, invalid,
            u"the signature does not match the manifest"_s);
        row("signed by another key", u"other key"_s, false, invalid, u", which is not trusted here"_s);
        row("manifest listing three images", u"three images"_s, false, invalid,
            u"build/boot_app0.bin is not listed in the manifest"_s);
        row("manifest listing five images", u"five images"_s, false, invalid,
            u"the manifest lists build/gone.ino.bin, which the package does not use"_s);
        row("extra build file", u"extra build file"_s, false, invalid,
            u"build/spare.ino.bin is not listed in the manifest"_s);
        row("truncated signature", u"truncated signature"_s, false, invalid,
            u"the signature is not 64 bytes of base64"_s);
        row("manifest of a newer format", u"format 2"_s, false,
            u"Bu paket daha yeni bir güncelleyici gerektiriyor. Güncelleyicinin yeni sürümünü kurun ya da "
            u"Vardel'den isteyin."_s,
            u"the manifest is of format 2, newer than this updater reads"_s);
        row("image listed twice", u"listed twice"_s, false, invalid, u"is listed twice in the manifest"_s);
        row("manifest not JSON", u"not JSON"_s, false, invalid, u"the manifest is not JSON of format 1"_s);
        // The tool refuses what the updater refuses, and says so in the updater's words.
        row("refused before signing", u"built for ESP32-S2"_s, false,
            u"sketch.ino.bin: bu firmware ESP32-S2 için derlenmiş; bu cihaz ESP32-S3."_s, {});
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
