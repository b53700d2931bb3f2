#pragma once

#include <QString>

/// Renames every file and folder below `folder` whose name is not valid UTF-8 to its
/// reading in the Turkish DOS code page (CP857), the code page Windows' own zip tool stores
/// names in on a Turkish system. A name taken already gets "~N" before its first dot.
/// Returns how many names were changed.
int repairFileNames(const QString &folder);

/// Removes `folder` and everything below it, whatever bytes the names below it hold;
/// links are removed, never followed. False when something stayed.
bool removeFolderTree(const QString &folder);
