#pragma once

#include "error.h"

#include <QString>

/// A name in the package that cannot be given a readable form on this system.
class FileNameError final : public Error
{
public:
    using Error::Error;
};

/// Renames every file and folder below `folder` whose name is not valid UTF-8 to its
/// reading in the Turkish DOS code page (CP857), the code page Windows' own zip tool stores
/// names in on a Turkish system. A name taken already gets "~N" before its first dot.
/// Returns how many names were changed. Throws FileNameError when a reading is longer than
/// a name may be, or no "~N" up to 999 is free; the names changed until then stay changed.
int repairFileNames(const QString &folder);

/// Removes `folder` and everything below it, whatever bytes the names below it hold;
/// links are removed, never followed. False when something stayed.
bool removeFolderTree(const QString &folder);
