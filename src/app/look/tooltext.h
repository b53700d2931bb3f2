#pragma once

#include <QString>

/// The tool's text as the window shows it: without the progress bars it draws, which the log
/// keeps. Pieces of a failure's tail that redrew a bar after a carriage return are dropped
/// whole; in a single progress line only the bracketed bar goes ("Writing at 0x00010000
/// [====>   ]  10.0% 81920/168035 bytes..." reads "Writing at 0x00010000 10.0% 81920/168035
/// bytes..."). Runs of blanks become one; line feeds stay.
[[nodiscard]] QString readableToolText(const QString &text);
