#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

/// What the tool's chip query says about the chip. A value the tool did not print is empty.
struct EsptoolChipSummary
{
    QString chipType;
    QString macAddress;
    QString flashDescription;
    QString usbMode;

    /// Chip type, then the features and "MAC …" when present, joined by ", ".
    [[nodiscard]] QString summaryText() const;

    /// Reads the four values from the whole output of the chip query.
    [[nodiscard]] static EsptoolChipSummary fromOutput(QStringView output);
    /// What fromOutput looks for in the lines: chip type, MAC, features, USB mode.
    [[nodiscard]] static QStringList fieldKeys();

    bool operator==(const EsptoolChipSummary &) const = default;
};

/// The value after the first colon of the first output line that contains `key`
/// (anywhere in the line), without surrounding blanks; empty when there is none.
[[nodiscard]] QString fieldValue(QStringView key, QStringView output);

/// Removes spaces, tabs and other space separators at both ends; line breaks stay.
[[nodiscard]] QStringView trimmedBlanks(QStringView text);
