#include "mainwindow.h"
#include "texts.h"

#include <QApplication>
#include <QCommandLineParser>

using namespace Qt::StringLiterals;

namespace {

void describeProgram(QCommandLineParser &parser)
{
    parser.setApplicationDescription(u"Writes new firmware to a Vardel Olvex device over USB."_s);
    parser.addHelpOption();
    parser.addVersionOption();
}

// Answers --help and --version from a core application, so they work without a display and
// never open a window. Qt's own window-system options (-platform, -style…) are still unknown
// here, so errors are left to the second parse, after QApplication has taken them out.
void answerWithoutWindow(int argc, char **argv)
{
    const QCoreApplication core(argc, argv);
    QCommandLineParser parser;
    describeProgram(parser);
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(u"help"_s))
        parser.showHelp();
    if (parser.isSet(u"version"_s))
        parser.showVersion();
    if (parser.isSet(u"help-all"_s))
        parser.process(core); // Qt's own handling lists its options too, then exits
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication::setApplicationName(Texts::applicationName);
    QCoreApplication::setApplicationVersion(QStringLiteral(OLVEX_VERSION));
    if (argc > 1) // a plain start pays nothing for it
        answerWithoutWindow(argc, argv);

    QApplication app(argc, argv);
    MainWindow::setUpApplication();
    QCommandLineParser parser;
    describeProgram(parser);
    parser.process(app); // an unknown option ends the program with Qt's message
    MainWindow window;
    window.show();
    return QApplication::exec();
}
