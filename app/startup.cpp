// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "app/startup.h"

#include "core/net/descriptorlimit.h"
#include "core/net/usageerror.h"
#include "ui/mainwindow.h"
#include "ui/statuslegend.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLoggingCategory>
#ifdef Q_OS_WIN
#include <QMessageBox>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace corla {

namespace {

// --help and --version answer on standard output, before any window, socket or display
// exists. Every other argument is left to Qt (-platform, -style, ...).
void answerHelpOrVersion(int argc, char* argv[])
{
    bool asked = false;
    for (int i = 1; i < argc; ++i)
        for (const char* flag : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
            asked = asked || std::strcmp(argv[i], flag) == 0;
    if (!asked)
        return;
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Finds and sets up networked underwater acoustic instruments: lists every "
                       "device that answers the discovery broadcast on this computer's "
                       "networks, shows whether each can be reached, changes its IP settings, "
                       "resets it and exports the list as CSV."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(QCommandLineOption(
        QStringLiteral("verbose"),
        QStringLiteral("Writes debug lines on discovery, probes and the window to standard "
                       "error (QT_LOGGING_RULES=\"corla.*.debug=true\" does the same).")));
    // Qt's own options (-platform and the like) are not this parser's to refuse.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    // Qt would list its own options only with a GUI application object, which needs a
    // display; the ones a user may want are named here instead.
    if (parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        std::fputs("\nQt's own options are taken as well: -platform NAME, -style NAME, "
                   "-stylesheet FILE,\n-reverse, -qwindowgeometry GEOMETRY, -qwindowtitle TITLE, "
                   "-qwindowicon FILE,\n-session ID, -widgetcount; with X11 also -display "
                   "DISPLAY, -geometry GEOMETRY,\n-name NAME, -title TITLE, -visual TYPE, "
                   "-nograb, -dograb, -sync.\n",
                   stdout);
        std::exit(0);
    }
    parser.showHelp(0);
}

// What is wrong with the arguments QApplication left, or an empty string. It has taken out
// the options it acts on (-platform, -style, -reverse, ...), and the X11 platform its own
// (-display, -geometry, -name, ...). Those X11 options stay behind on other platforms, and
// the ones Qt 4 knew (-fn, -bg, -sync, ...) on every platform: launchers and scripts still
// pass them, and they were never ours to refuse.
QString usageMistake(const QStringList& arguments)
{
    static const QStringList withValue = {"display", "geometry",   "name", "title",  "icon",
                                          "visual",  "fn",         "font", "bg",     "background",
                                          "fg",      "foreground", "btn",  "button", "ncols",
                                          "im",      "inputstyle"};
    static const QStringList switches = {"sync", "nograb", "dograb", "cmap"};
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        if (a == QLatin1String("--")) {
            if (i + 1 < arguments.size())
                return QStringLiteral("unexpected argument '%1'").arg(arguments.at(i + 1));
            break;
        }
        if (!a.startsWith(QLatin1Char('-')) || a == QLatin1String("-"))
            return QStringLiteral("unexpected argument '%1'").arg(a);
        if (a == QLatin1String("--verbose"))
            continue;
        const QString name = a.mid(a.startsWith(QLatin1String("--")) ? 2 : 1);
        if (withValue.contains(name)) {
            if (++i == arguments.size())
                return QStringLiteral("missing value after '%1'").arg(a);
        } else if (!switches.contains(name))
            return QStringLiteral("unknown option '%1'").arg(a);
    }
    return QString();
}

} // namespace

int runWindowApplication(int argc, char* argv[], const std::function<void(MainWindow&)>& shown)
{
    MainWindow::setApplicationIdentity();
    answerHelpOrVersion(argc, argv);
    // Before any socket: the port probes size themselves by it.
    raiseDescriptorLimit();
    // Qt's own event dispatcher: GLib's walks its lists of socket notifiers and timers on
    // every pass, which a few hundred port probes at once made the window's bottleneck.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QApplication app(argc, argv);
    // The window broadcasts as it is made: a mistyped command line must end before that.
    const QString mistake = usageMistake(QCoreApplication::arguments());
    if (!mistake.isEmpty()) {
#ifdef Q_OS_WIN
        // A GUI program has no console there: stderr would swallow the message.
        QMessageBox::critical(nullptr, QStringLiteral("corla"),
                              mistake + QLatin1Char('\n') + usageHint(QStringLiteral("corla")));
#else
        printUsageError(QStringLiteral("corla"), mistake);
#endif
        return 1;
    }
    // The debug lines are off unless asked for; QT_LOGGING_RULES still has the last word.
    if (QCoreApplication::arguments().contains(QStringLiteral("--verbose")))
        QLoggingCategory::setFilterRules(QStringLiteral("corla.*.debug=true"));
    DiscoveryClient adapter;
    PortProbeScheduler checker;
    const ChangeLog changeLog(ChangeLog::defaultPath());
    MainWindow window(&adapter, &checker);
    window.setChangeLog(&changeLog);

    // Ours, then what the user gave with -stylesheet on top.
    app.setStyleSheet(withStatusStyleSheet(app.styleSheet()));

    window.show();
    if (shown)
        shown(window);
    return app.exec();
}

} // namespace corla
