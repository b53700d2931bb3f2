#include "portcheck.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <algorithm>
#include <memory>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Texts {
const auto gone =
    u"Cihaz çıkarılmış görünüyor: %1 artık yok. Cihazı yeniden takın ve «Portları Yenile» deyin."_s;
const auto noPermission = u"Bu portu açma izniniz yok (%1, grup: %2). "_s;
const auto addToGroup =
    u"gruba ekleyin: sudo usermod -aG %1 $USER — ardından oturumu kapatıp yeniden açın."_s;
const QString joinGroup = u"Kullanıcınızı "_s + addToGroup;
const QString replugThenJoinGroup =
    u"Cihazın kablosunu çıkarıp yeniden takın; olmazsa kullanıcınızı "_s + addToGroup;
const auto nothingSeen = u"Sistem hiçbir USB seri cihaz görmüyor: başka bir USB kablosu (bazıları yalnızca "
                         u"güç taşır) ve başka bir USB girişi deneyin."_s;
const auto notInGroup = u"Seri portlar «%1» grubunun; siz bu grupta değilsiniz. "_s;
const auto serialGroup = "dialout";
const auto noPermissionForAnyone =
    u"Bu portu açma izniniz yok (%1) ve portun grubu (%2) da açamıyor; bir gruba katılmak yetmez. "
    u"Cihaz için izin veren bir udev kuralı gerekir."_s;
const auto inUseBy = u"Port şu program tarafından kullanılıyor: %1 (PID %2). "_s;
const auto inUseByUnknown = u"Port başka bir program tarafından kullanılıyor. "_s;
const auto closeIt = u"Programı (örneğin seri monitörü) kapatıp tekrar deneyin."_s;
const auto modemManager =
    u"ModemManager çalışıyor; ttyACM portlarını kısa süre meşgul edebilir. Sorun olursa "
    u"güncelleme süresince durdurun: sudo systemctl stop ModemManager"_s;
} // namespace Texts

namespace {
struct CloseDirectory
{
    void operator()(DIR *directory) const { closedir(directory); }
};
using Directory = std::unique_ptr<DIR, CloseDirectory>;

Directory openDirectory(const QByteArray &path)
{
    return Directory(opendir(path.constData()));
}

bool isProcessId(const char *name)
{
    if (*name == '\0')
        return false;
    for (; *name; ++name)
        if (*name < '0' || *name > '9')
            return false;
    return true;
}

/// A process's name as the kernel keeps it (at most 15 bytes), or nothing.
QByteArray processName(const QByteArray &processFolder)
{
    const int file = open(QByteArray(processFolder + "/comm").constData(), O_RDONLY | O_CLOEXEC);
    if (file < 0)
        return {};
    char name[64];
    const ssize_t length = read(file, name, sizeof name);
    close(file);
    return length > 0 ? QByteArray(name, length).trimmed() : QByteArray();
}

/// Whether one of the process's open files is `target`. Only the user's own processes (all,
/// for root) let us look.
bool holds(const QByteArray &processFolder, const QByteArray &target)
{
    const QByteArray fdFolder = processFolder + "/fd";
    const Directory fds = openDirectory(fdFolder);
    if (!fds)
        return false;
    char link[4096];
    while (const dirent *entry = readdir(fds.get())) {
        if (entry->d_name[0] == '.')
            continue;
        const QByteArray fd = fdFolder + '/' + entry->d_name;
        const ssize_t length = readlink(fd.constData(), link, sizeof link);
        if (length == target.size() && target == QByteArrayView(link, length))
            return true;
    }
    return false;
}

bool isMember(gid_t gid)
{
    if (getegid() == gid)
        return true;
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> groups(size_t(qMax(count, 0)));
    return getgroups(count, groups.data()) == count && std::ranges::find(groups, gid) != groups.end();
}

/// Whether udev would apply the package's rule: the first file of that name wins, and an
/// empty one (or a link to /dev/null) is how an administrator switches it off.
bool udevRuleInstalled(const QStringList &directories)
{
    for (const QString &directory : directories)
        if (const QFileInfo rule(directory + u'/' + udevRuleFileName); rule.exists())
            return rule.size() > 0;
    return false;
}

QString groupName(gid_t gid)
{
    if (const group *entry = getgrgid(gid))
        return QString::fromLocal8Bit(entry->gr_name);
    return QString::number(gid);
}
} // namespace

QStringList noPortReasons(const QString &processDirectory)
{
    QStringList reasons{Texts::nothingSeen};
    // Root may open every port: no group to join.
    const group *serial = getgrnam(Texts::serialGroup);
    if (serial && geteuid() != 0 && !isMember(serial->gr_gid)) {
        const QString name = QString::fromLatin1(Texts::serialGroup);
        reasons.append(Texts::notInGroup.arg(name) + Texts::joinGroup.arg(name));
    }
    const QByteArray proc = QFile::encodeName(processDirectory);
    if (const Directory processes = openDirectory(proc))
        while (const dirent *entry = readdir(processes.get()))
            if (isProcessId(entry->d_name) && processName(proc + '/' + entry->d_name) == "ModemManager")
                return reasons << Texts::modemManager;
    return reasons;
}

QStringList checkPort(const QString &port, const QString &processDirectory,
                      const QStringList &udevRuleDirectories, const std::optional<PortDetails> &details)
{
    // The rule acts on a device when it appears: one plugged in before the install, or
    // outside a local seat, may still lack the user's access.
    const auto coveredByRule = [&] {
        return details && details->isUsbSerialJtag() && udevRuleInstalled(udevRuleDirectories);
    };
    const QByteArray path = QFile::encodeName(port);
    struct stat node
    {
    };
    if (stat(path.constData(), &node) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw PortCheckError(PortCheckError::Kind::gone, Texts::gone.arg(port));
        return {}; // anything stranger is for the tool to report
    }
    if (access(path.constData(), R_OK | W_OK) != 0 && errno == EACCES) {
        // Joining the node's group only helps when the group may read and write it; never
        // advise joining a group that gains nothing (root, say).
        const bool groupMayOpen = (node.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
        const QString group = groupName(node.st_gid);
        const QString advice = coveredByRule() ? Texts::replugThenJoinGroup : Texts::joinGroup;
        throw PortCheckError(PortCheckError::Kind::noPermission,
                             groupMayOpen ? Texts::noPermission.arg(port, group) + advice.arg(group)
                                          : Texts::noPermissionForAnyone.arg(port, group));
    }

    // Open files show in /proc as links to the resolved path.
    const QByteArray target = QFile::encodeName(QFileInfo(port).canonicalFilePath());
    const QByteArray proc = QFile::encodeName(processDirectory);
    const QByteArray self = QByteArray::number(getpid());
    bool modemManager = false;
    if (const Directory processes = openDirectory(proc)) {
        while (const dirent *entry = readdir(processes.get())) {
            if (!isProcessId(entry->d_name) || self == entry->d_name)
                continue;
            const QByteArray folder = proc + '/' + entry->d_name;
            if (!modemManager)
                modemManager = processName(folder) == "ModemManager";
            if (!holds(folder, target))
                continue;
            // The holder may have ended, or hide its name: say what we know.
            const QByteArray name = processName(folder);
            const QString holder = name.isEmpty() ? Texts::inUseByUnknown
                                                  : Texts::inUseBy.arg(QString::fromLocal8Bit(name),
                                                                       QString::fromLatin1(entry->d_name));
            throw PortCheckError(PortCheckError::Kind::inUse, holder + Texts::closeIt);
        }
    }
    if (modemManager && QFileInfo(port).fileName().startsWith(u"ttyACM"_s) && !coveredByRule())
        return {Texts::modemManager};
    return {};
}
