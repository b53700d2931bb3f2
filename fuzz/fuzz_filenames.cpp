#include "fuzzsupport.h"
#include "rawfilenames.h"

#include <QDir>

#include <fcntl.h>
#include <unistd.h>

#include <string>

using namespace Qt::StringLiterals;

// The input is the raw name of one file in a folder, as a zip may carry it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A name holds no slash or NUL, is no "." or "..", and is at most 255 bytes long.
    std::string name(reinterpret_cast<const char *>(data), std::min<size_t>(size, 255));
    std::erase_if(name, [](char c) { return c == '/' || c == '\0'; });
    if (name.empty() || name == "." || name == "..")
        return 0;
    const QString folder = scratchFolder() + u"/package"_s;
    QDir().mkpath(folder);
    const std::string path = QFile::encodeName(folder).toStdString() + '/' + name;
    const int descriptor = open(path.c_str(), O_CREAT | O_WRONLY, 0600);
    if (descriptor < 0)
        return 0;
    close(descriptor);
    try {
        (void)repairFileNames(folder);
    } catch (const FileNameError &) {
    }
    if (!removeFolderTree(folder))
        qFatal("a name stayed behind in %s", qPrintable(folder));
    return 0;
}
