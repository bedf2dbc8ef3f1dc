// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// corla-cli: discovery, network settings, reset and echo from the command line, on the
// same library as the window.

#include "core/net/descriptorlimit.h"
#include "core/net/usageerror.h"
#include "tools/corla-cli/command.h"
#include "tools/corla-cli/session.h"

#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QNetworkInterface>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>

using namespace corla;

namespace {

QList<CliInterfaceName> interfaceNames()
{
    QList<CliInterfaceName> names;
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces())
        names.append({iface.name(), iface.humanReadableName()});
    return names;
}

// Qt's own warnings (a socket that cannot be opened, ...) and, with --verbose, the debug
// lines share stderr with our messages; the prefix says whose they are.
void prefixedMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    std::fprintf(stderr, "corla-cli: %s\n", qPrintable(qFormatLogMessage(type, context, message)));
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

int main(int argc, char* argv[])
{
    qInstallMessageHandler(prefixedMessage);
    // Before any socket: the port probes size themselves by it.
    raiseDescriptorLimit();
    // Qt's own event dispatcher, as the window uses: GLib's walks its list of socket
    // notifiers on every change, which thousands of port probes made the bottleneck.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("corla-cli");

    QFile errFile;
    errFile.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    QTextStream err(&errFile);

    const CliParseResult parsed = parseCliArguments(QCoreApplication::arguments());
    if (!parsed.ok) {
        printUsageError(QStringLiteral("corla-cli"), parsed.error, UsageHintStyle::Sentence,
                        parsed.helpTopic);
        return CliExit::Usage;
    }
    const CliRequest& request = parsed.request;
    if (!request.command) {
        QFile outFile;
        outFile.open(stdout, QIODevice::WriteOnly);
        QTextStream(&outFile) << request.helpText;
        return CliExit::Ok;
    }

    QList<CliInterfaceName> available = interfaceNames();
    const QString unknown = unknownInterface(request.interfaces, available);
    if (!unknown.isEmpty()) {
        QStringList known;
        for (const CliInterfaceName& iface : qAsConst(available))
            known << iface.name;
        // The name on a line of its own, so that the first line names only the culprit.
        err << QStringLiteral("corla-cli: no interface named \"%1\"").arg(unknown) << Qt::endl
            << QStringLiteral("corla-cli: the interfaces here are %1")
                   .arg(known.join(QStringLiteral(", ")))
            << Qt::endl;
        return CliExit::Usage;
    }

    // Scripts read the results on standard output: the debug lines (the wire's among them)
    // go to stderr with --verbose, and nowhere otherwise.
    QLoggingCategory::setFilterRules(request.verbose ? QStringLiteral("corla.*.debug=true")
                                                     : QStringLiteral("*.debug=false"));
    QFile outFile;
    outFile.open(stdout, QIODevice::WriteOnly);
    QTextStream out(&outFile);

    CliSession session(&out, &err);
    const int status = request.command->run(session, request);
    out.flush();
    return status;
}
