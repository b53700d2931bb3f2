#include "openedpackage.h"

#include "rawfilenames.h"
#include "zipextractor.h"

using namespace Qt::StringLiterals;

OpenedPackage openPackage(const QUrl &zip, const QUrl &folder, const PlatformPaths &paths,
                          const std::function<void(int)> &namesRepaired)
{
    ZipExtractor::extract(zip, folder);
    // Names from Windows' own zip tool arrive in its code page; discovery needs them readable.
    const int repaired = repairFileNames(folder.toLocalFile());
    if (repaired && namesRepaired)
        namesRepaired(repaired);
    const QList<QUrl> files = regularFiles(folder);
    if (files.isEmpty())
        throw FirmwareImageError::missingFile(u"firmware files in zip"_s);
    OpenedPackage package;
    package.images = arduinoImages(files, folder, paths);
    package.inspection = inspectPackage(package.images);
    return package;
}
