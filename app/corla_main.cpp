#include "corlamainwin.h"
#include "corlasnapshot.h"
#include "descriptorlimit.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>

#include <cstring>

namespace {

// --help and --version answer on standard output, before any window, socket or display
// exists. Every other argument is left to Qt (-platform, -style, ...).
void answerHelpOrVersion(int argc, char* argv[])
{
    bool asked = false;
    for (int i = 1; i < argc; ++i)
        for (const char* flag : {"-h", "--help", "-?", "-v", "--version"})
            asked = asked || std::strcmp(argv[i], flag) == 0;
    if (!asked)
        return;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corla"));
    QCoreApplication::setApplicationVersion(QLatin1String(MainWindow::Version));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Finds and sets up networked underwater acoustic instruments: lists every "
                       "device that answers the discovery broadcast on this computer's "
                       "networks, shows whether each can be reached, changes its IP settings, "
                       "resets it and exports the list as CSV."));
    parser.addHelpOption();
    parser.addVersionOption();
    // Qt's own options (-platform and the like) are not this parser's to refuse.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    parser.showHelp(0);
}

} // namespace

int main(int argc, char* argv[])
{
    answerHelpOrVersion(argc, argv);
    // Before any socket: the port probes size themselves by it.
    corlaRaiseDescriptorLimit();
    // Qt's own event dispatcher: GLib's walks its lists of socket notifiers and timers on
    // every pass, which a few hundred port probes at once made the window's bottleneck.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QApplication app(argc, argv);
    ZelCorlaAdapter adapter;
    ZelConnectionChecker checker;
    const CorlaChangeLog changeLog(CorlaChangeLog::defaultPath());
    MainWindow window(&adapter, &checker);
    window.setChangeLog(&changeLog);
    QApplication::setApplicationVersion(QLatin1String(MainWindow::Version));

    QFile styleFile(QStringLiteral(":/stylesheet.qss"));
    styleFile.open(QIODevice::ReadOnly);
    const QByteArray style = styleFile.readAll();
    // Latin-1 up to the first zero byte, as the sheet has always been read.
    app.setStyleSheet(QString::fromLatin1(style.constData(),
                                          int(qstrnlen(style.constData(), uint(style.size())))));

    window.show();
    scheduleSnapshotFromEnvironment(window);
    return app.exec();
}
