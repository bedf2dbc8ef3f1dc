// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// corla-sim: simulated instruments that answer the discovery protocol, for tests, the
// demo, and trying the program without hardware.

#include "core/net/usageerror.h"
#include "corlaversion.h"
#include "tools/corla-sim/simaddresses.h"
#include "tools/corla-sim/simserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

using namespace corla;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    // Nothing to do if the pipe is full: a quit is already on its way.
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the event loop, so that added addresses are taken away again.
void quitOnSignals(QCoreApplication* app)
{
    if (::pipe(signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, &QCoreApplication::quit);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

// A burst fleet holds a socket per connection check; let it have what the system allows.
void raiseFileLimit()
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// One exit status for every usage error, so that a script can tell a bad command line
// (2) from a simulator that could not start (1).
constexpr int UsageExit = 2;
constexpr int StartExit = 1;

[[noreturn]] void usageError(const QString& message)
{
    exitWithUsageError(QStringLiteral("corla-sim"), message, UsageExit, UsageHintStyle::Prefixed);
}

// Qt's parser names an unknown option without its dashes ("Unknown option 'bogus'."): name it
// as it was typed, and word Qt's other errors ("Missing value after '--port'.") as ours.
QString parseError(const QCommandLineParser& parser, const QStringList& arguments)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.isEmpty()) {
        QString text = parser.errorText();
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
        if (!text.isEmpty())
            text[0] = text.at(0).toLower();
        return text;
    }
    const QString& name = unknown.first();
    QString typed = QStringLiteral("--") + name;
    for (const QString& a : arguments.mid(1)) {
        if (a == QLatin1String("--"))
            break;
        const QString flag = a.section(QLatin1Char('='), 0, 0);
        // Single-dash words are read as compacted short options: "-port" is 'p', 'o', ...
        const bool shortWord = flag.startsWith(QLatin1Char('-')) && !flag.startsWith("--");
        if (flag == typed || flag == QLatin1Char('-') + name ||
            (shortWord && name.size() == 1 && flag.contains(name))) {
            typed = flag;
            break;
        }
    }
    return QStringLiteral("unknown option '%1'").arg(typed);
}

// Qt's own warnings share stderr with the simulator's lines; the prefix says whose they are.
void prefixedMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    std::fprintf(stderr, "corla-sim: %s\n", qPrintable(qFormatLogMessage(type, context, message)));
    if (type == QtFatalMsg)
        std::abort();
}

int intValue(const QCommandLineParser& parser, const QString& name, int low, int high)
{
    bool ok = false;
    const QString text = parser.value(name);
    const int value = text.startsWith("0x") ? text.mid(2).toInt(&ok, 16) : text.toInt(&ok);
    if (!ok || value < low || value > high)
        usageError(QStringLiteral("--%1 must be a number from %2 to %3, not \"%4\"")
                       .arg(name)
                       .arg(low)
                       .arg(high)
                       .arg(text));
    return value;
}

Ipv4Address addressValue(const QString& text, const QString& what)
{
    const Ipv4Address ip(text.toStdString());
    if (ip.toInt() == 0)
        usageError(QStringLiteral("%1 must be a dotted IPv4 address, not \"%2\"").arg(what, text));
    return ip;
}

const char* const Description =
    R"(Simulated instruments for the discovery protocol (UDP port 62726).

Every device answers a network enquiry with a zero MAC address; a device answers
an enquiry, change or reset that names its MAC. Answers go to the request's source
address, at the response port the request carries. A change is accepted (the new
settings then hold) or refused with the device's configured code or the fitting one:
2 invalid mask, 1 invalid address, 4 broadcast address, 5 unchanged static address,
3 gateway outside the subnet, 6 invalid mode. After a reset a device answers nothing
(and closes its ports) for --reset-silence ms. Devices whose JSON entry names an
"iface" hear only requests that arrive on that interface (when it exists here).

Fleet JSON: {"devices": [{"type": 5, "serial": 1005, "mac": "02:c0:1a:00:00:05",
  "mode": "static"|"dhcp"|"none"|N, "ip": "10.10.0.15", "mask": "255.255.255.0",
  "gateway": "10.10.0.254", "dns": "10.10.0.254", "port21": true, "web": false,
  "refuse": 0, "resetSilenceMs": 5000, "iface": "dev0"}, ...]}
Only type, serial and mac are required. --dump-fleet prints the built-in fleet.

Prints "corla-sim: ready N devices" on stdout once it listens, and a line per request
on stderr. SIGINT or SIGTERM end it and remove the addresses it added.)";

} // namespace

int main(int argc, char* argv[])
{
    qInstallMessageHandler(prefixedMessage);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("corla-sim");
    QCoreApplication::setApplicationVersion(QStringLiteral(CORLA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(Description);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {"fleet", "Read the fleet from a JSON file instead of the built-in one.", "file"},
        {"dump-fleet", "Print the fleet as JSON and exit."},
        {"burst", "Replace the fleet with <n> generated devices (static, port 21 open).", "n"},
        {"burst-first", "First address of the burst fleet (default 10.40.0.1, counting up).", "ip"},
        {"burst-iface", "Burst devices hear only requests arriving on this interface.", "name"},
        {"port", "UDP port to listen on (default 62726).", "port"},
        {"manage-addresses",
         "Add each device's address to this namespace's interfaces (as /32) and move it "
         "when a change is accepted, so its ports and echo follow. Lab device side only."},
        {"no-tcp", "No port 21 and port 80 listeners."},
        {"reset-silence", "Silence after a reset, in ms (default 5000).", "ms"},
        {"delay", "Wait this long before answering, in ms (default 0).", "ms"},
        {"rate",
         "Answer datagrams per second (default 4000; 0: no pacing). Pacing keeps a "
         "burst from overrunning the receiver's socket buffer.",
         "n"},
        {"dhcp-pool", "Addresses leased on a change to DHCP (default 10.10.0.100-10.10.0.149).",
         "first-last"},
        {"duplicate", "Fault: send every answer datagram twice."},
        {"stray-bytes", "Fault: put the bytes 11 22 ahead of every answer frame."},
        {"split", "Fault: send every answer datagram as two, cut after the frame header."},
        {"split-at", "Fault: as --split, cut after <n> bytes.", "n"},
        {"frames-per-datagram", "Fault: pack up to <n> answers to one request per datagram.", "n"},
        {"unknown-code",
         "Fault: put a frame with this code (e.g. 0x41) ahead of every answer frame.", "code"},
        {"short-answers", "Fault: enquiry answers without the DNS field (22 bytes)."},
        {"rogue-sender",
         "Fault: a second socket (another port) answers every enquiry first, with 7 "
         "datagrams: a header announcing 16000 bytes, 65507 bytes of 0x2A, the first "
         "device's answer without its CRC, unrequested change (refused, then accepted at "
         "another address) and reset answers for it, and a header announcing 100 bytes. "
         "With --split or --split-at they come between the halves of the first answer."},
        {"forge",
         "Fault: a forging sender answers ahead of the devices, which still answer as "
         "usual. <mode> is accept (every change request answered \"accepted\", echoing the "
         "requested settings), refuse (every change request refused with code 1), "
         "ack-flood:N (every reset request answered with N reset acknowledgements and every "
         "change request with N refusals, code 1; N up to 100000, paced by --rate like "
         "every answer), macs:N (every enquiry also answered for N devices that do not "
         "exist, MAC addresses 02:ff:00:00:00:00 counting up, addresses from 10.128.0.1; N "
         "up to 300000, paced by --rate) or enquiry:MAC (every enquiry that reaches the "
         "device with that MAC also gets an answer for it with gateway and DNS server "
         "10.10.0.66). Repeat to "
         "combine modes (not accept with refuse). With --manage-addresses it answers from "
         "port 62726 (--port) of an address of its own on the requester's subnet, the third "
         "from the top (x.y.z.253 in a /24), which it adds; otherwise, and for a requester "
         "on no subnet here, from a UDP port of its own.",
         "mode"},
        {"quiet", "No line per request."},
    });
    // Qt's own handling of a bad command line exits with 1 and names no remedy; parse first
    // so that it goes the way of every other usage error. process() then only acts on
    // --help, --help-all and --version.
    if (!parser.parse(QCoreApplication::arguments()))
        usageError(parseError(parser, QCoreApplication::arguments()));
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        usageError(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));

    SimOptions options;
    if (parser.isSet("port"))
        options.port = quint16(intValue(parser, "port", 1, 65535));
    if (parser.isSet("reset-silence"))
        options.resetSilenceMs = intValue(parser, "reset-silence", 0, 3600000);
    if (parser.isSet("delay"))
        options.delayMs = intValue(parser, "delay", 0, 3600000);
    if (parser.isSet("rate"))
        options.rate = intValue(parser, "rate", 0, 10000000);
    options.tcp = !parser.isSet("no-tcp");
    options.quiet = parser.isSet("quiet");
    options.rogueSender = parser.isSet("rogue-sender");
    if (parser.isSet("dhcp-pool")) {
        const QStringList range = parser.value("dhcp-pool").split('-');
        if (range.size() != 2)
            usageError("--dhcp-pool must be FIRST-LAST, e.g. 10.10.0.100-10.10.0.149");
        options.dhcpFirst = addressValue(range.at(0), "--dhcp-pool");
        options.dhcpLast = addressValue(range.at(1), "--dhcp-pool");
        if (options.dhcpLast.toInt() < options.dhcpFirst.toInt())
            usageError("--dhcp-pool: the last address comes before the first");
    }
    SimFaults& faults = options.faults;
    faults.duplicate = parser.isSet("duplicate");
    if (parser.isSet("stray-bytes"))
        faults.stray = QByteArray("\x11\x22", 2);
    if (parser.isSet("split"))
        faults.splitAt = 4;
    if (parser.isSet("split-at"))
        faults.splitAt = intValue(parser, "split-at", 1, 65535);
    if (parser.isSet("frames-per-datagram"))
        faults.framesPerDatagram = intValue(parser, "frames-per-datagram", 1, 1000);
    if (parser.isSet("unknown-code")) {
        faults.unknownCode = intValue(parser, "unknown-code", 0, 255);
        if (faults.unknownCode >= 0x57 && faults.unknownCode <= 0x59)
            usageError("--unknown-code must not be one of the known codes 0x57 to 0x59");
    }
    faults.shortAnswers = parser.isSet("short-answers");
    constexpr int MaxFlood = 100000;
    SimForge& forge = options.forge;
    for (const QString& mode : parser.values("forge")) {
        const QString name = mode.section(QLatin1Char(':'), 0, 0);
        const QString value = mode.section(QLatin1Char(':'), 1);
        if (mode == "accept") {
            forge.accept = true;
        } else if (mode == "refuse") {
            forge.refuse = true;
        } else if (name == "ack-flood") {
            if (value.isEmpty())
                usageError(
                    QStringLiteral("--forge ack-flood needs a count: ack-flood:N, N from 1 to %1")
                        .arg(MaxFlood));
            bool ok = false;
            forge.ackFlood = value.toInt(&ok);
            if (!ok || forge.ackFlood < 1 || forge.ackFlood > MaxFlood)
                usageError(
                    QStringLiteral("--forge ack-flood:N must have N from 1 to %1, not \"%2\"")
                        .arg(MaxFlood)
                        .arg(value));
        } else if (name == "macs") {
            bool ok = false;
            forge.macs = value.toInt(&ok);
            if (!ok || forge.macs < 1 || forge.macs > MaxForgedMacs)
                usageError(QStringLiteral("--forge macs:N must have N from 1 to %1, not \"%2\"")
                               .arg(MaxForgedMacs)
                               .arg(value));
        } else if (name == "enquiry" && mode.contains(QLatin1Char(':'))) {
            if (!MacAddress::parse(value.toStdString(), &forge.enquiryMac) ||
                forge.enquiryMac.isNull())
                usageError(QStringLiteral("--forge enquiry:MAC needs a device's MAC address, "
                                          "such as 02:c0:1a:00:00:01, not \"%1\"")
                               .arg(value));
        } else {
            usageError(QStringLiteral("--forge must be accept, refuse, ack-flood:N, macs:N or "
                                      "enquiry:MAC, not \"%1\"")
                           .arg(mode));
        }
    }
    if (forge.accept && forge.refuse)
        usageError("--forge accept and --forge refuse exclude each other");

    SimFleet fleet = defaultFleet();
    if (parser.isSet("fleet")) {
        QFile file(parser.value("fleet"));
        if (!file.open(QIODevice::ReadOnly))
            usageError(
                QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString()));
        QString error;
        if (!parseFleet(file.readAll(), &fleet, &error))
            usageError(QStringLiteral("%1: %2").arg(file.fileName(), error));
    }
    if (parser.isSet("burst")) {
        const Ipv4Address first = parser.isSet("burst-first")
                                      ? addressValue(parser.value("burst-first"), "--burst-first")
                                      : Ipv4Address("10.40.0.1");
        fleet = burstFleet(intValue(parser, "burst", 1, 65535), first, parser.value("burst-iface"));
    }
    if (!forge.enquiryMac.isNull() &&
        std::none_of(fleet.begin(), fleet.end(), [&forge](const SimDevice& d) {
            return d.net.macAddress() == forge.enquiryMac;
        }))
        usageError(QStringLiteral("--forge enquiry:%1: no device of the fleet has that MAC address")
                       .arg(QString::fromStdString(forge.enquiryMac.toString())));
    if (parser.isSet("dump-fleet")) {
        const QByteArray json = fleetToJson(fleet);
        std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
        return 0;
    }

    raiseFileLimit();
    quitOnSignals(&app);
    SimAddresses addresses;
    QString why;
    if (parser.isSet("manage-addresses") && !addresses.enable(&why)) {
        std::fprintf(stderr, "corla-sim: %s\n", qPrintable(why));
        return StartExit;
    }
    SimServer server(options, fleet, &addresses);
    QStringList warnings;
    if (!server.start(&why, &warnings)) {
        std::fprintf(stderr, "corla-sim: %s\n", qPrintable(why));
        return StartExit;
    }
    for (const QString& warning : qAsConst(warnings))
        std::fprintf(stderr, "corla-sim: %s\n", qPrintable(warning));
    std::printf("corla-sim: ready %d devices\n", server.deviceCount());
    std::fflush(stdout);
    const int status = app.exec();
    std::fprintf(stderr, "corla-sim: stopped\n");
    return status;
}
