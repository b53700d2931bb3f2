#pragma once

#include "firmwarepackage.h"

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

/// One bar over a whole write. The tool reports each image on its own, from 0 to 100 %;
/// this turns its lines into the share of all the images' bytes written so far, and a Turkish
/// line that names the part being written and the amount.
class WriteProgress final
{
public:
    struct Report
    {
        QString text;
        double fraction = 0;
    };

    /// The images of one tool run; the tool writes them in the order of their offsets.
    explicit WriteProgress(QList<FirmwareImage> images);

    /// What one output line of the tool says of the write, or nothing. The fraction never
    /// goes down, and stays below 1 until the tool has ended well.
    [[nodiscard]] std::optional<Report> onLine(QStringView line);

private:
    /// Where `line` says the image it reports on starts, when it is the first line of one.
    [[nodiscard]] std::optional<qsizetype> startedImage(QStringView line, double fraction) const;
    [[nodiscard]] QString text() const;

    QList<FirmwareImage> m_images;
    QList<double> m_weights; // each image's bytes; every image counts alike when no size is known
    bool m_sized = false;
    double m_total = 0;
    qsizetype m_current = 0;
    double m_currentFraction = 0;
    double m_done = 0; // bytes written, as shown
};
