#include "rawfilenames.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

#include <climits>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

using namespace Qt::StringLiterals;

namespace fs = std::filesystem;

namespace {
#ifdef NAME_MAX
constexpr qsizetype nameMax = NAME_MAX;
#else
constexpr qsizetype nameMax = 255; // the common limit of today's file systems, in bytes
#endif
/// How far "~N" goes before the name is given up.
constexpr int maxNumber = 999;

// CP857 from 0x80 on; "_" stands for its three unassigned bytes.
constexpr char16_t cp857[] = u"ÇüéâäàåçêëèïîıÄÅÉæÆôöòûùİÖÜø£ØŞşáíóúñÑĞğ¿®¬½¼¡«»░▒▓│┤ÁÂÀ©╣║╗╝¢¥┐└┴┬├─┼ãÃ╚╔╩╦"
                             u"╠═╬¤ºªÊËÈ_ÍÎÏ┘┌█▄¦Ì▀ÓßÔÒõÕµ_×ÚÛÙìÿ¯´\u00AD±_¾¶§÷¸°¨·¹³²■\u00A0";
static_assert(std::size(cp857) == 128 + 1);

// Info-ZIP's unzip, for names from a DOS or Windows system, turns each code page 850
// letter into its ISO 8859-1 byte before writing the name. This is the CP857 letter of the
// original byte for each such byte from 0xA0 on.
constexpr char16_t cp857FromLatin1[] = u"\u00A0¡¢£¤¥¦§¨©Ğ«¬\u00AD®¯°±²³´µ¶·¸¹ğ»¼½¾¿ÀÁÂÃÄÅÆÇÈÉÊËÌÍÎÏªÑÒÓÔÕÖ"
                                       u"ŞØÙÚÛÜÿ×ßàáâãäåæçèéêëıíîïºñòóôõö÷øùúûüì_İ";
static_assert(std::size(cp857FromLatin1) == 96 + 1);

bool isValidUtf8(const std::string &name)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString decoded = decoder.decode(QByteArrayView(name.data(), qsizetype(name.size())));
    return !decoder.hasError();
}

// The one byte below 0xA0 that unzip's conversion writes: for code page 850's "ƒ", which
// ISO 8859-1 lacks, the byte of CP857's "ş" (0x9F in both code pages).
constexpr quint8 convertedSCedilla = 0x83;

/// The name as the Windows user wrote it. A name holding any other byte from 0x80 to 0x9F
/// did not pass through unzip's conversion, and is read as CP857 directly.
QString cp857Reading(const std::string &name)
{
    bool raw = false;
    for (const char c : name)
        raw = raw || (quint8(c) >= 0x80 && quint8(c) < 0xA0 && quint8(c) != convertedSCedilla);
    QString text;
    for (const char c : name) {
        const quint8 byte = quint8(c);
        if (byte < 0x80)
            text.append(QLatin1Char(c));
        else if (raw)
            text.append(QChar(cp857[byte - 0x80]));
        else if (byte == convertedSCedilla)
            text.append(QChar(cp857[0x9F - 0x80]));
        else
            text.append(QChar(cp857FromLatin1[byte - 0xA0]));
    }
    return text;
}

/// Any error but "no such entry" counts as taken: the next number is tried, never the same.
bool taken(const fs::path &path)
{
    std::error_code error;
    return fs::symlink_status(path, error).type() != fs::file_type::not_found;
}

/// `name` with "~N" before its first dot (leading dots aside), or at its end.
QString numbered(const QString &name, int n)
{
    qsizetype dot = name.indexOf(u'.', 1);
    if (dot < 0)
        dot = name.size();
    return name.first(dot) + u'~' + QString::number(n) + name.sliced(dot);
}

fs::path nativePath(const QString &path)
{
    return fs::path(QFile::encodeName(path).toStdString());
}

/// The start of a long name, enough to recognise it in a message.
QString shown(const QString &name)
{
    constexpr qsizetype shownLength = 40;
    return name.size() <= shownLength ? name : name.first(shownLength) + u'…';
}

/// The free name in `folder` that `reading`, numbered if need be, gives. A letter of
/// CP857 takes two or three bytes in UTF-8, so a reading can outgrow what a name may hold.
fs::path freeName(const fs::path &folder, const QString &reading)
{
    for (int n = 0; n <= maxNumber; ++n) {
        const QByteArray name = QFile::encodeName(n == 0 ? reading : numbered(reading, n));
        if (name.size() > nameMax)
            throw FileNameError(u"Zip'teki «%1» adı Türkçe harfleriyle %2 bayt tutuyor; bu sistemde bir "
                                u"dosya adı en çok %3 bayt olabilir."_s.arg(shown(reading))
                                    .arg(name.size())
                                    .arg(nameMax));
        const fs::path target = folder / name.toStdString();
        if (!taken(target))
            return target;
    }
    throw FileNameError(
        u"Zip'teki «%1» adı için boş bir ad bulunamadı; aynı adla %2 dosya var."_s.arg(shown(reading))
            .arg(maxNumber + 1));
}
} // namespace

int repairFileNames(const QString &folder)
{
    int renamed = 0;
    std::vector<fs::path> pending{nativePath(folder)};
    while (!pending.empty()) {
        const fs::path current = pending.back();
        pending.pop_back();
        std::error_code error;
        std::vector<fs::path> entries;
        for (fs::directory_iterator it(current, error), end; !error && it != end; it.increment(error))
            entries.push_back(it->path());
        for (fs::path entry : entries) {
            const std::string name = entry.filename().string();
            if (!isValidUtf8(name)) {
                const fs::path target = freeName(current, cp857Reading(name));
                fs::rename(entry, target, error);
                if (!error) {
                    entry = target;
                    ++renamed;
                }
            }
            if (fs::symlink_status(entry, error).type() == fs::file_type::directory)
                pending.push_back(entry);
        }
    }
    return renamed;
}

bool removeFolderTree(const QString &folder)
{
    std::error_code error;
    fs::remove_all(nativePath(folder), error);
    return !error;
}
