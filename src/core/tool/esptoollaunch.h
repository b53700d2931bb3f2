#pragma once

#include "platformpaths.h"

#include <QCoroTask>
#include <QHash>
#include <QProcessEnvironment>
#include <QString>

#include <optional>

class Logger;

/// Where the esptool that runs comes from.
enum class EsptoolOrigin { bundled, arduino, searchPath };

struct LocatedEsptool
{
    QString path;
    EsptoolOrigin origin = EsptoolOrigin::bundled;
};

/// The first executable of "esptool/esptool", "ThirdParty/esptool/esptool",
/// "ThirdParty/esptool", "esptool" in the resource folder (what ships with the program),
/// then the Arduino core's esptool 5.2.0, then `esptool` or `esptool.py` on the search path.
/// Throws EsptoolError::notFound.
[[nodiscard]] LocatedEsptool locateEsptool(const PlatformPaths &paths);

/// The tool's environment: ours, without any ESPTOOL_* setting (a variable left in a shell
/// months ago can change timeouts, connection attempts or the reset sequence), with HOME set
/// to an empty private folder (a configuration file in the user's home would do the same),
/// PYTHONUSERBASE kept pointing into the real home, TMPDIR set to our private folder, and
/// NO_COLOR.
[[nodiscard]] QProcessEnvironment esptoolEnvironment(const PlatformPaths &paths);
/// Where the tool runs: the same empty private folder, as it also reads a configuration
/// file from its working folder.
[[nodiscard]] QString esptoolWorkingDirectory(const PlatformPaths &paths);

/// A tool version, "v5.3.1" as esptool prints it.
struct EsptoolVersion
{
    int major = 0;
    int minor = 0;
    int patch = 0;

    /// The first "vX.Y[.Z]" in the text of the tool's `version` command, or nothing.
    [[nodiscard]] static std::optional<EsptoolVersion> parse(QStringView text);
    [[nodiscard]] QString text() const;
};

/// The version of the esptool that ships with the program, known when it is built.
[[nodiscard]] EsptoolVersion bundledEsptoolVersion();

/// Which tool a session uses and its version: logged once per tool before its first
/// command line, and a tool older than version 5 refused before it can fail on our
/// arguments. A tool that does not ship with the program is asked its `version` once;
/// the answer is kept for the session.
class EsptoolVersionCheck final
{
public:
    /// Logs the version line the first time `tool` is used; throws EsptoolError::tooOld.
    QCoro::Task<> verify(LocatedEsptool tool, PlatformPaths paths, Logger *logger);

private:
    struct Known
    {
        std::optional<EsptoolVersion> version; // nothing: the tool did not say
    };
    QHash<QString, Known> m_known;
};
