// olvex-sign: the vendor's tool that makes a key pair, signs release zips and checks them.
#include "packagesigning.h"
#include "platformpaths.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {
const auto usage = uR"(Usage:
  olvex-sign keygen SECRET PUBLIC
      Makes a new key pair: SECRET (keep it offline, readable by you only) and PUBLIC
      (build the updater with it: -DOLVEX_TRUSTED_KEYS=PUBLIC).
  olvex-sign sign --key SECRET IN.zip OUT.zip
      Checks IN.zip as the updater would load it, then writes OUT.zip with
      olvex-manifest.json and olvex-manifest.sig added.
  olvex-sign verify --key PUBLIC IN.zip
      Says whether PUBLIC signed IN.zip and every image matches; exit status 0 if so.
)"_s;

void print(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
}

int usageError(const QString &problem)
{
    print(stderr, u"olvex-sign: "_s + problem + u"\n\n"_s + usage);
    return 2;
}

int run(const QStringList &arguments)
{
    const QString command = arguments.value(0);
    if (command == u"keygen"_s && arguments.size() == 3) {
        const QString id = writeKeyPair(arguments[1], arguments[2]);
        print(stdout, u"Wrote the secret key "_s + arguments[1] + u" and the public key "_s + arguments[2] +
                          u" (key id "_s + id + u"). Keep the secret key offline."_s);
        return 0;
    }
    const bool keyed = arguments.value(1) == u"--key"_s;
    if (command == u"sign"_s && keyed && arguments.size() == 5) {
        const QString id = signPackage(arguments[3], arguments[4], arguments[2], PlatformPaths::system());
        print(stdout, u"Signed "_s + arguments[4] + u" with key "_s + id + u"."_s);
        return 0;
    }
    if (command == u"verify"_s && keyed && arguments.size() == 4) {
        const QString id = verifyPackage(arguments[3], arguments[2], PlatformPaths::system());
        print(stdout, arguments[3] + u": valid, signed by key "_s + id + u"; every image matches."_s);
        return 0;
    }
    return usageError(command.isEmpty() ? u"no command given"_s : u"wrong arguments for "_s + command);
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.contains(u"--help"_s) || arguments.contains(u"-h"_s)) {
        print(stdout, usage);
        return 0;
    }
    try {
        return run(arguments);
    } catch (const Error &error) {
        print(stderr, u"olvex-sign: "_s + error.description());
        return 1;
    }
}
