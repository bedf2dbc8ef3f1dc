// corla-cli: discovery, network settings, reset and echo from the command line, on the
// same library as the window.

#include "clicommand.h"
#include "clirunner.h"

#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QNetworkInterface>
#include <QTextStream>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The protocol layer writes a few plain lines to standard output (frames it sends and
// decodes). Scripts read corla-cli's results there, so those lines go to stderr with
// --verbose and nowhere otherwise; the results keep the original stdout, which is
// returned here.
int divertProtocolOutput(bool verbose)
{
    std::fflush(stdout);
    const int results = ::dup(STDOUT_FILENO);
    if (results < 0)
        return STDOUT_FILENO;
    const int sink = verbose ? ::dup(STDERR_FILENO) : ::open("/dev/null", O_WRONLY);
    if (sink < 0 || ::dup2(sink, STDOUT_FILENO) < 0) {
        if (sink >= 0)
            ::close(sink);
        ::close(results);
        return STDOUT_FILENO;
    }
    ::close(sink);
    // Keep them in step with the debug lines on stderr.
    if (verbose)
        std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return results;
}

QList<CliInterfaceName> interfaceNames()
{
    QList<CliInterfaceName> names;
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces())
        names.append({iface.name(), iface.humanReadableName()});
    return names;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("corla-cli");

    QFile errFile;
    errFile.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    QTextStream err(&errFile);

    const CliParseResult parsed = parseCliArguments(QCoreApplication::arguments());
    if (!parsed.ok) {
        err << "corla-cli: " << parsed.error << Qt::endl << parsed.hint << Qt::endl;
        return CliExit::Usage;
    }
    const CliRequest& request = parsed.request;
    if (request.command == CliCommand::Help || request.command == CliCommand::Version) {
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
        err << QStringLiteral("corla-cli: no interface named \"%1\" (there are: %2)")
                   .arg(unknown, known.join(QStringLiteral(", ")))
            << Qt::endl;
        return CliExit::Usage;
    }

    if (!request.verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    QFile outFile;
    outFile.open(divertProtocolOutput(request.verbose), QIODevice::WriteOnly,
                 QFileDevice::AutoCloseHandle);
    QTextStream out(&outFile);

    CliRunner runner(&out, &err);
    const int status = runner.run(request);
    out.flush();
    return status;
}
