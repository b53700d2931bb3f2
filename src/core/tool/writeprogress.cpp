#include "writeprogress.h"

#include "esptoolprogress.h"

#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <numeric>

using namespace Qt::StringLiterals;

namespace Texts {
const auto writingPart = u"%1 yazılıyor (%2/%3)"_s;
const auto amounts = u" · %1 / %2"_s;
const auto verifying = u"Doğrulanıyor…"_s;
} // namespace Texts

namespace {
/// The fraction shown until the tool has verified, reset and ended well.
constexpr double almostDone = 0.999;

/// What the user calls an image of the Arduino build.
QString partName(const FirmwareImage &image)
{
    const std::optional<ImageRole> role = buildFileRole(image.fileName);
    if (!role)
        return image.fileName;
    switch (*role) {
    case ImageRole::bootloader:
        return u"Önyükleyici"_s;
    case ImageRole::partitionTable:
        return u"Bölüm tablosu"_s;
    case ImageRole::bootApp0:
        return u"Başlangıç verisi"_s;
    case ImageRole::application:
        return u"Uygulama"_s;
    }
    return image.fileName;
}

/// "1,2 MB", "18 KB": one decimal in megabytes, whole kilobytes below.
QString amountText(double bytes)
{
    static const QLocale turkish(QLocale::Turkish, QLocale::Turkey);
    if (bytes >= 1024.0 * 1024.0)
        return turkish.toString(bytes / (1024.0 * 1024.0), 'f', 1) + u" MB"_s;
    return turkish.toString(qRound64(bytes / 1024.0)) + u" KB"_s;
}

/// The tool's "sent/total bytes" of the image it writes: with compression these count the
/// compressed stream, so only their ratio says how far the image is.
std::optional<double> byteFraction(QStringView line)
{
    static const QRegularExpression counts(uR"((\d+)/(\d+) bytes)"_s);
    const QRegularExpressionMatch match = counts.match(line.toString());
    if (!match.hasMatch())
        return std::nullopt;
    const double total = match.capturedView(2).toDouble();
    return total > 0 ? std::optional(match.capturedView(1).toDouble() / total) : std::nullopt;
}
} // namespace

WriteProgress::WriteProgress(QList<FirmwareImage> images) : m_images(std::move(images))
{
    std::stable_sort(m_images.begin(), m_images.end(),
                     [](const FirmwareImage &a, const FirmwareImage &b) { return a.offset < b.offset; });
    m_sized = std::any_of(m_images.cbegin(), m_images.cend(), [](const auto &i) { return i.size > 0; });
    for (const FirmwareImage &image : std::as_const(m_images))
        m_weights.append(m_sized ? double(image.size) : 1.0);
    m_total = std::accumulate(m_weights.cbegin(), m_weights.cend(), 0.0);
}

std::optional<qsizetype> WriteProgress::startedImage(QStringView line, double fraction) const
{
    // Each image's first line carries the image's offset (the address written next); esptool 5
    // also ends an image at the address after it, which may be where the next one starts.
    static const QRegularExpression address(uR"(\bat 0x([0-9A-Fa-f]+))"_s);
    if (const QRegularExpressionMatch match = address.match(line.toString()); match.hasMatch()) {
        bool ok = false;
        const quint32 at = match.capturedView(1).toUInt(&ok, 16);
        const FirmwareImage &current = m_images.at(m_current);
        const bool endOfCurrent = fraction >= 1.0 && quint64(current.offset) + current.size == at;
        for (qsizetype i = m_current; ok && !endOfCurrent && i < m_images.size(); ++i) {
            if (m_images.at(i).offset == at)
                return i; // the current one again: a connection lost and found starts it over
        }
    }
    // Otherwise the percentage falls back when the next image begins.
    if (fraction < m_currentFraction && m_current + 1 < m_images.size())
        return m_current + 1;
    return std::nullopt;
}

std::optional<WriteProgress::Report> WriteProgress::onLine(QStringView line)
{
    const std::optional<double> percentage = parseProgress(line);
    if (!percentage || m_images.isEmpty() || m_total <= 0)
        return std::nullopt;
    const double fraction = std::clamp(byteFraction(line).value_or(*percentage / 100.0), 0.0, 1.0);
    if (const std::optional<qsizetype> started = startedImage(line, fraction))
        m_current = *started;
    m_currentFraction = fraction;
    const double before = std::accumulate(m_weights.cbegin(), m_weights.cbegin() + m_current, 0.0);
    m_done = std::max(m_done, before + fraction * m_weights.at(m_current));
    return Report{text(), std::min(m_done / m_total, almostDone)};
}

QString WriteProgress::text() const
{
    if (m_current + 1 == m_images.size() && m_currentFraction >= 1.0)
        return Texts::verifying;
    const QString part =
        Texts::writingPart.arg(partName(m_images.at(m_current))).arg(m_current + 1).arg(m_images.size());
    return m_sized ? part + Texts::amounts.arg(amountText(m_done), amountText(m_total)) : part;
}
