// Unpacking with the system's unzip: names, the argument vector, failures, and archives
// that try to write outside their folder.
#include "zipextractor.h"
#include "testsupport.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

class TestZipExtractor : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_root;

    [[nodiscard]] QString path(const QString &relative) const { return m_root->filePath(relative); }

    /// A stand-in for unzip: a shell script with `body`.
    [[nodiscard]] QString fakeUnzip(const QByteArray &body) const
    {
        writeFile(path(u"fake-unzip"_s), "#!/bin/sh\n" + body + '\n',
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path(u"fake-unzip"_s);
    }

private Q_SLOTS:
    void init() { m_root = std::make_unique<QTemporaryDir>(); }

    // The used entries of every archive are unpacked by the real unzip below a new folder, or
    // refused with unzip's status; none of its paths may reach past the folder, whatever the
    // entries say and whatever links an earlier entry made.
    void extract_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<int>("status"); // -1: refusing is as good as unpacking safely
        QTest::addColumn<QString>("zipName");
        QTest::addColumn<QString>("folderName");
        const auto row = [](const char *name, const QString &archive, int status,
                            const QString &zipName = u"package.zip"_s, const QString &folder = u"tmp/x"_s) {
            QTest::newRow(name) << archive << status << zipName << folder;
        };
        row("blanks, quotes, Turkish letters", u"files"_s, 0, u"Güncelleme \"yeni\" şöyle 'ığ' ÇİÖ.zip"_s,
            u"çıkış klasörü/'tek' \"çift\""_s);
        // The neighbour "Olvex  2 ab.zip" matches this name read as a pattern.
        row("pattern characters", u"files"_s, 0, u"Olvex \\ [v2] *?.zip"_s);
        row("vanished zip", u"missing"_s, 9);
        row("empty archive: nothing to unpack", u"empty"_s, 0);
        row("parent folder", u"parent"_s, -1);
        row("absolute path", u"absolute"_s, -1);
        row("file through a linked folder", u"through link"_s, -1);
        row("file over a link to a file", u"over link"_s, -1);
    }

    void extract()
    {
        QFETCH(QString, archive);
        QFETCH(int, status);
        QFETCH(QString, zipName);
        QFETCH(QString, folderName);
        const QString zip = path(zipName);
        const QString folder = path(folderName);
        const QString outside = path(u"outside"_s);
        const QString target = outside + u"/t.ino.bin"_s;
        writeFile(target, "original");
        const QString neighbour = path(u"Olvex  2 ab.zip"_s);
        makeZip(neighbour, {{u"sketch.ino.bin"_s, "the neighbour's"}});
        const QMap<QString, QByteArray> files{
            {u"sketch.ino.bin"_s, "application"},
            {u"build/esp32.esp32.esp32s3/sketch.ino.bootloader.bin"_s, QByteArray(5000, 'b')},
            {u"yeni klasör/ğüş [1]*?.ino.bin"_s, "Türkçe"},
        };
        const QString unused = u"yeni klasör/ğüşiöç.txt"_s;

        if (archive == u"files"_s) {
            makeZip(zip, files);
            makeZip(zip, {{unused, "unused"}});
        } else if (archive == u"empty"_s) {
            writeFile(zip, "PK\x05\x06" + QByteArray(18, '\0')); // the end record alone
        } else if (archive == u"parent"_s) {
            makeZip(zip, {{u"aa/e.ino.bin"_s, "evil"}});
            renameZipEntries(zip, "aa/e.ino.bin", "../e.ino.bin");
        } else if (archive == u"absolute"_s) {
            // Same length as the absolute path, so that it can be renamed to it.
            const QString placeholder = u"x"_s + target.mid(1);
            makeZip(zip, {{placeholder, "evil"}});
            renameZipEntries(zip, placeholder.toUtf8(), target.toUtf8());
        } else if (archive == u"through link"_s) {
            makeZip(zip, {}, {{u"linked"_s, outside}});
            makeZip(zip, {{u"linked/t.ino.bin"_s, "evil"}, {u"linked/n.ino.bin"_s, "evil"}});
        } else if (archive == u"over link"_s) {
            makeZip(zip, {}, {{u"l1.ino.bin"_s, target}});
            makeZip(zip, {{u"l2.ino.bin"_s, "evil"}});
            renameZipEntries(zip, "l2.ino.bin", "l1.ino.bin");
        }

        try {
            ZipExtractor::extract(QUrl::fromLocalFile(zip), QUrl::fromLocalFile(folder));
            QVERIFY(status <= 0);
        } catch (const ZipExtractorError &error) {
            QVERIFY(status != 0);
            if (status > 0)
                QCOMPARE(error.description(), u"Failed to extract firmware zip (exit %1)."_s.arg(status));
        }
        // The folder is made before unzip unpacks, and nothing cleans it up; a file without a
        // listing is only listed.
        QCOMPARE(QFileInfo(folder).isDir(), archive != u"missing"_s);
        if (archive == u"files"_s) {
            for (auto it = files.cbegin(); it != files.cend(); ++it)
                QCOMPARE(readFile(folder + u'/' + it.key()), it.value());
            QVERIFY(!QFileInfo::exists(folder + u'/' + unused));
        }

        QDirIterator it(m_root->path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString entry = it.next();
            if (!QString(entry + u'/').startsWith(folder + u'/') && !folder.startsWith(entry + u'/') &&
                !QStringList{zip, neighbour, outside, target}.contains(entry))
                QFAIL(qPrintable(u"written outside the folder: "_s + entry));
        }
        QCOMPARE(readFile(target), "original");
    }

    // The platform's own text, when the folder cannot be made (and unzip never runs) or
    // unzip cannot start.
    void platformErrors_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("systemText");
        QTest::newRow("folder in a read-only folder")
            << u"readonly/sub"_s << u"fake-unzip"_s << u"Permission denied"_s;
        QTest::newRow("missing program") << u"out"_s << u"no-such-unzip"_s << u"No such file or directory"_s;
    }

    void platformErrors()
    {
        QFETCH(QString, folder);
        QFETCH(QString, program);
        QFETCH(QString, systemText);
        QVERIFY(QDir().mkpath(path(u"readonly"_s)));
        QVERIFY(QFile::setPermissions(path(u"readonly"_s), QFile::ReadOwner | QFile::ExeOwner));
        const QString unzip = fakeUnzip("touch \"$0.ran\"");
        makeZip(path(u"a.zip"_s), {{u"s.ino.bin"_s, "a"}});

        try {
            ZipExtractor::extract(QUrl::fromLocalFile(path(u"a.zip"_s)), QUrl::fromLocalFile(path(folder)),
                                  path(program));
            QFAIL("extraction succeeded");
        } catch (const PlatformError &error) {
            QVERIFY2(error.description().contains(systemText), qPrintable(error.description()));
        }
        QVERIFY(!QFileInfo::exists(unzip + u".ran"_s));
    }

    // unzip gets exactly these arguments (the used entries of one limit, as patterns that
    // match only themselves) and runs in a session of its own (without a
    // controlling terminal it cannot stop to ask for a password); a signal that ends it is a
    // failure with the signal's number, and what it said is kept.
    void howUnzipRuns()
    {
        const QString zip = path(u"it's a \"zip\" $(x) ş.zip"_s);
        const QString folder = path(u"out dir/`y` ğ"_s);
        makeZip(zip, {{u"s [1]*?\u00e7.partitions.bin"_s, "t"}, {u"s.ino.bin"_s, "a"}, {u"s.txt"_s, "t"}});
        const QString unzip = fakeUnzip("for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args\"\n"
                                        "set -- $(cat /proc/$$/stat); [ \"$6\" = \"$$\" ] || exit 7\n"
                                        "echo 'a line of its own' >&2; kill -TERM $$");
        try {
            ZipExtractor::extract(QUrl::fromLocalFile(zip), QUrl::fromLocalFile(folder), unzip);
            QFAIL("extraction succeeded");
        } catch (const ZipExtractorError &error) {
            QCOMPARE(error.status(), 15);
            QCOMPARE(error.messages(), QStringList{u"a line of its own"_s});
        }
        QCOMPARE(readFile(unzip + u".args"_s).split('\n'),
                 (QList<QByteArray>{"-oq", zip.toUtf8(), "s \\[1]\\*\\???.partitions.bin", "-d",
                                    folder.toUtf8(), ""}));
    }
};

OLVEX_TEST_MAIN(TestZipExtractor)
#include "tst_zipextractor.moc"
