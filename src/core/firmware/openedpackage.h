#pragma once

#include "firmwarepackage.h"
#include "packageinspection.h"
#include "platformpaths.h"

#include <QList>
#include <QUrl>

#include <functional>

/// A firmware zip unpacked, its images found and their content inspected.
struct OpenedPackage
{
    QList<FirmwareImage> images;
    PackageInspection inspection;
};

/// Unpacks `zip` into `folder`, finds the build files and inspects them: everything a load
/// does before it keeps a package, shared with the vendor's signing tool so that neither
/// accepts what the other refuses. `namesRepaired` hears how many names from Windows' own
/// zip tool were made readable. Throws the error of the first step that fails.
[[nodiscard]] OpenedPackage openPackage(const QUrl &zip, const QUrl &folder, const PlatformPaths &paths,
                                        const std::function<void(int)> &namesRepaired = {});
