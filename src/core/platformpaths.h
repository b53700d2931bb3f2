#pragma once

#include <QString>
#include <QStringList>

/// The folders the program reads and writes outside its own state. `system()` gives the
/// real ones; tests point every field into a temporary folder.
struct PlatformPaths
{
    QString resourceDirectory;  ///< bundled files: the esptool program, boot_app0.bin
    QString homeDirectory;      ///< the user's home folder
    QString temporaryDirectory; ///< private to the user (owner-only): extraction, TMPDIR of the tool
    QString deviceDirectory;    ///< where serial devices appear
    QString processDirectory;   ///< the kernel's process folder: who holds a port open
    QString stateDirectory;     ///< the program's own state (the log file); empty: none kept
    /// Where udev reads rules, in its order: of two files with one name, the first wins.
    QStringList udevRuleDirectories;

    /// The Arduino IDE's data folder (boards, tools) below `homeDirectory`.
    [[nodiscard]] QString arduinoDataDirectory() const;

    [[nodiscard]] static PlatformPaths system();

    bool operator==(const PlatformPaths &) const = default;
};
