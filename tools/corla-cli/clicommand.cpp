#include "clicommand.h"

#include "corlasettings.h"
#include "corlaversion.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace {

const QString Program = QStringLiteral("corla-cli");

const char* const GeneralDescription =
    R"(Finds and sets up instruments over the discovery protocol (UDP broadcast to
port 62726) without a window: for scripts and machines without a display.

Commands:
  discover         list the devices that answer an enquiry
  set MAC          change a device's network settings (DHCP or static)
  reset MAC        reset a device
  ping IP          send one ICMP echo request to an address
  help [COMMAND]   this text, or the options of a command

Requests go out from every IPv4 address of every interface that is up, running
and not loopback; --interface (repeatable, before or after the command) keeps
them to the addresses of the named interfaces. Echo requests and port probes are
unicast and follow the system's routes. Run 'corla-cli COMMAND --help' for the
options of a command.)";

const char* const DiscoverDescription =
    R"(Broadcasts a network enquiry, collects the answers for --wait ms and prints one
entry per MAC address; a later answer from the same device updates its settings.
The Interface column is the local address on which the device was first heard.
With --probe, TCP port 21 of every device is tried (each within 4000 ms of its own
start; at most a few hundred at once, the rest wait their turn) and its
reachability shown with the reason: Reachable, Unreachable, or NoIp for a device
without address; "connection refused", "no answer within 4 s", "host unreachable",
"no route from this computer", ...

Formats: table (aligned columns), csv (the export format of the device list: a
header line and one line per device; with --probe two more columns, Status and
Reason), json (an array of objects); each lists the
devices by serial number. Exit status 2 when no device answered; the empty list
is printed too.)";

const char* const SetDescription =
    R"(Finds the device by an enquiry carrying its MAC address, sends the new settings
and waits for its answer (each step within --wait ms).

--dhcp switches the device to DHCP; the address fields it reported are sent along
unchanged, as the configuration dialog does. --static needs --mask; without
--gateway or --dns the device gets none (0.0.0.0). The address must start with a
number from 1 to 223 other than 127; the mask must be a run of one bits followed
by zero bits (255.255.255.255 is refused). Before static settings are sent, one
ICMP echo request (50 ms) checks that no other host answers at the new address,
and the system's neighbour table that none answered ARP for it (a host that drops
echo requests); if one does, nothing is sent unless --force is given. The echo is skipped when
the address is the device's current one, since the device itself would answer.

A refusal prints the device's reason on stderr (exit status 3).)";

const char* const ResetDescription =
    R"(Sends a reset request for the device with this MAC address and waits --wait ms
for its acknowledgement. The device restarts and does not answer for a while.)";

const char* const PingDescription =
    R"(Sends one ICMP echo request and waits at most --timeout ms for a reply. Without
an echo reply it tells why: a router on the way reports the host unreachable
(exit status 5), this computer has no route to the address (exit status 6), or
nothing came back (exit status 5) — unless a host on a directly attached network
answers ARP at the address but drops echo requests, which many firewalls do
(exit status 7). With --interface the address must be routed through one of the
named interfaces (exit status 6 otherwise).)";

const char* const ExitCodes =
    R"(
Exit status:
  0  success
  1  usage error: bad arguments, a malformed address, mask or MAC, an unknown
     interface name
  2  no answer: no device answered, the MAC was not found, or the change or reset
     was not confirmed within --wait
  3  the device refused the new settings (its reason is printed on stderr)
  4  set: a host already answers at the new static address (--force sends anyway)
  5  ping: no reply within --timeout, or a router reports the host unreachable
  6  no usable local IPv4 address on the (named) interfaces, or ping: no route to
     the address (through the named interfaces)
  7  ping: no echo reply, but a host answers ARP at the address
)";

// Every option any command knows, by name.
QCommandLineOption option(const QString& name)
{
    struct OptionInfo
    {
        const char* name;
        const char* description;
        const char* valueName;
    };
    static const OptionInfo table[] = {
        {"interface", "Use only the IPv4 addresses of this interface (repeatable).", "name"},
        {"verbose", "Write the debug lines (frames sent, echo details) to stderr.", nullptr},
        {"wait", "Milliseconds to wait for answers (default 3000).", "ms"},
        {"probe", "Try TCP port 21 of every device and show its reachability.", nullptr},
        {"format", "Output format: table (default), csv or json.", "format"},
        {"dhcp", "Switch the device to DHCP.", nullptr},
        {"static", "Give the device this static address.", "ip"},
        {"mask", "Subnet mask of the static address.", "mask"},
        {"gateway", "Gateway of the static address (default none).", "ip"},
        {"dns", "DNS server of the static address (default none).", "ip"},
        {"force", "Send static settings even when a host answers at the address.", nullptr},
        {"timeout", "Milliseconds to wait for the echo reply (default 1000).", "ms"},
    };
    for (const OptionInfo& s : table) {
        if (name == QLatin1String(s.name))
            return s.valueName ? QCommandLineOption(name, s.description, s.valueName)
                               : QCommandLineOption(name, s.description);
    }
    Q_UNREACHABLE();
    return QCommandLineOption(name);
}

struct CommandInfo
{
    CliCommand command;
    const char* name;
    const char* syntax;
    const char* summary;
    const char* description;
    QStringList options;
};

const QList<CommandInfo>& commandInfos()
{
    static const QList<CommandInfo> table = {
        {CliCommand::Discover,
         "discover",
         "discover",
         "List the devices that answer an enquiry.",
         DiscoverDescription,
         {"wait", "probe", "format"}},
        {CliCommand::Set,
         "set",
         "set MAC (--dhcp | --static IP --mask MASK [--gateway IP] [--dns IP])",
         "Change the network settings of the device with this MAC address.",
         SetDescription,
         {"dhcp", "static", "mask", "gateway", "dns", "force", "wait"}},
        {CliCommand::Reset,
         "reset",
         "reset MAC",
         "Reset the device with this MAC address.",
         ResetDescription,
         {"wait"}},
        {CliCommand::Ping,
         "ping",
         "ping IP",
         "Send one ICMP echo request to this address.",
         PingDescription,
         {"timeout"}},
    };
    return table;
}

const CommandInfo* findCommand(const QString& name)
{
    for (const CommandInfo& info : commandInfos()) {
        if (name == QLatin1String(info.name))
            return &info;
    }
    return nullptr;
}

// Options with a value, for finding the command word before the real parse.
bool takesValue(const QString& argument)
{
    static const QStringList withValue = {"--interface", "--wait",    "--format", "--static",
                                          "--mask",      "--gateway", "--dns",    "--timeout"};
    return withValue.contains(argument);
}

// The first argument that is neither an option nor an option's value.
QString commandWord(const QStringList& arguments)
{
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        if (a == QLatin1String("--"))
            return arguments.value(i + 1);
        if (a.startsWith(QLatin1Char('-'))) {
            if (takesValue(a))
                ++i;
            continue;
        }
        return a;
    }
    return QString();
}

void addCommonOptions(QCommandLineParser* parser)
{
    parser->addOption(option("interface"));
    parser->addOption(option("verbose"));
    parser->addHelpOption();
    parser->addVersionOption();
}

// Qt's help text starts with the program's path as it was started; name it plainly.
QString helpOf(const QCommandLineParser& parser)
{
    QString text = parser.helpText();
    const int end = text.indexOf(QLatin1String(" [options]"));
    if (text.startsWith(QLatin1String("Usage: ")) && end > 0)
        text.replace(7, end - 7, Program);
    return text + QLatin1String(ExitCodes);
}

QString generalHelp()
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(GeneralDescription));
    addCommonOptions(&parser);
    parser.addPositionalArgument("command", "discover, set, reset, ping or help.",
                                 "COMMAND [ARGUMENTS]");
    return helpOf(parser);
}

void setupCommandParser(const CommandInfo& info, QCommandLineParser* parser)
{
    parser->setApplicationDescription(QString::fromLatin1(info.description));
    for (const QString& name : info.options)
        parser->addOption(option(name));
    addCommonOptions(parser);
    parser->addPositionalArgument(info.name, info.summary, info.syntax);
}

QString commandHelp(const CommandInfo& info)
{
    QCommandLineParser parser;
    setupCommandParser(info, &parser);
    return helpOf(parser);
}

CliParseResult failure(const QString& error, const CommandInfo* info = nullptr)
{
    CliParseResult result;
    result.error = error;
    result.hint = info ? QStringLiteral("Try '%1 %2 --help'.").arg(Program, info->name)
                       : QStringLiteral("Try '%1 --help'.").arg(Program);
    return result;
}

CliParseResult help(const QString& text, CliCommand command = CliCommand::Help)
{
    CliParseResult result;
    result.ok = true;
    result.request.command = command;
    result.request.helpText = text;
    return result;
}

QString checkMilliseconds(const QCommandLineParser& parser, const QString& name, int* out)
{
    if (!parser.isSet(name))
        return QString();
    bool ok = false;
    const QString text = parser.value(name);
    const int value = text.toInt(&ok);
    if (!ok || value < 1 || value > CliRequest::kMaxMs)
        return QStringLiteral(
                   "--%1 must be a whole number of milliseconds from 1 to %2, not \"%3\"")
            .arg(name)
            .arg(CliRequest::kMaxMs)
            .arg(text);
    *out = value;
    return QString();
}

// The device named by the one positional argument after the command.
QString checkOneArgument(const QStringList& positional, const QString& what)
{
    if (positional.size() < 2)
        return QStringLiteral("%1 needs %2").arg(positional.first(), what);
    if (positional.size() > 2)
        return QStringLiteral("%1 takes only %2, not also \"%3\"")
            .arg(positional.first(), what, positional.at(2));
    return QString();
}

QString parseSet(const QCommandLineParser& parser, CliRequest* r)
{
    const bool dhcp = parser.isSet("dhcp");
    const bool manual = parser.isSet("static");
    if (dhcp && manual)
        return "--dhcp and --static exclude each other";
    if (!dhcp && !manual)
        return "set needs --dhcp or --static IP";
    if (dhcp) {
        for (const char* name : {"mask", "gateway", "dns"}) {
            if (parser.isSet(name))
                return QStringLiteral("--%1 goes with --static, not with --dhcp").arg(name);
        }
        r->settings.setAddressMode(TevAddressModeAuto);
        return QString();
    }
    if (!parser.isSet("mask"))
        return "--static needs --mask MASK";
    TevIpAddr ip, mask, gateway, dns;
    QString why = checkHostAddressText(parser.value("static"), "--static", &ip);
    if (why.isEmpty())
        why = checkMaskText(parser.value("mask"), &mask);
    if (why.isEmpty() && parser.isSet("gateway"))
        why = checkIpText(parser.value("gateway"), "--gateway", &gateway);
    if (why.isEmpty() && parser.isSet("dns"))
        why = checkIpText(parser.value("dns"), "--dns", &dns);
    if (!why.isEmpty())
        return why;
    r->settings = TevNetHostInfo(ip, mask, gateway, dns, TevMacAddr(), TevAddressModeManual);
    return QString();
}

} // namespace

QString unknownInterface(const QStringList& requested, const QList<CliInterfaceName>& available)
{
    for (const QString& name : requested) {
        bool found = false;
        for (const CliInterfaceName& iface : available)
            found = found || name == iface.name || name == iface.humanReadableName;
        if (!found)
            return name;
    }
    return QString();
}

CliParseResult parseCliArguments(const QStringList& arguments)
{
    const QString word = commandWord(arguments);
    const CommandInfo* info = findCommand(word);
    const bool helpCommand = word == QLatin1String("help");

    if (!info && !helpCommand && !word.isEmpty())
        return failure(QStringLiteral("unknown command \"%1\"").arg(word));

    QCommandLineParser parser;
    if (info) {
        setupCommandParser(*info, &parser);
    } else {
        addCommonOptions(&parser);
        parser.addPositionalArgument("command", "", "COMMAND");
    }
    if (!parser.parse(arguments))
        return failure(info ? QStringLiteral("%1: %2").arg(info->name, parser.errorText())
                            : parser.errorText(),
                       info);
    if (parser.isSet("help") || parser.isSet("help-all"))
        return help(info ? commandHelp(*info) : generalHelp());
    if (parser.isSet("version"))
        return help(Program + QLatin1Char(' ') + QLatin1String(CORLA_VERSION) + QLatin1Char('\n'),
                    CliCommand::Version);
    if (helpCommand) {
        const QStringList positional = parser.positionalArguments();
        if (positional.size() < 2)
            return help(generalHelp());
        const CommandInfo* about = findCommand(positional.at(1));
        if (!about || positional.size() > 2)
            return failure(
                QStringLiteral("help: no command \"%1\"").arg(positional.mid(1).join(' ')));
        return help(commandHelp(*about));
    }
    if (!info)
        return failure("no command given (discover, set, reset, ping or help)");

    CliParseResult result;
    CliRequest& r = result.request;
    r.command = info->command;
    r.verbose = parser.isSet("verbose");
    r.interfaces = parser.values("interface");
    for (const QString& name : qAsConst(r.interfaces)) {
        if (name.isEmpty())
            return failure("--interface needs a name", info);
    }

    const QStringList positional = parser.positionalArguments();
    QString why;
    switch (r.command) {
    case CliCommand::Discover:
        if (positional.size() > 1)
            return failure(
                QStringLiteral("discover takes no arguments, not \"%1\"").arg(positional.at(1)),
                info);
        r.probe = parser.isSet("probe");
        if (parser.isSet("format")) {
            const QString format = parser.value("format");
            if (format == QLatin1String("table"))
                r.format = CliFormat::Table;
            else if (format == QLatin1String("csv"))
                r.format = CliFormat::Csv;
            else if (format == QLatin1String("json"))
                r.format = CliFormat::Json;
            else
                return failure(
                    QStringLiteral("--format must be table, csv or json, not \"%1\"").arg(format),
                    info);
        }
        why = checkMilliseconds(parser, "wait", &r.waitMs);
        break;
    case CliCommand::Set:
    case CliCommand::Reset:
        why = checkOneArgument(positional, "the device's MAC address");
        if (why.isEmpty())
            why = checkMacText(positional.at(1), &r.mac);
        if (why.isEmpty() && r.command == CliCommand::Set) {
            why = parseSet(parser, &r);
            r.force = parser.isSet("force");
        }
        if (why.isEmpty())
            why = checkMilliseconds(parser, "wait", &r.waitMs);
        break;
    case CliCommand::Ping:
        why = checkOneArgument(positional, "an IPv4 address");
        if (why.isEmpty())
            why = checkIpText(positional.at(1), "ping", &r.target);
        if (why.isEmpty() && r.target.toInt() == 0)
            why = "ping: 0.0.0.0 is no address to send to";
        if (why.isEmpty())
            why = checkMilliseconds(parser, "timeout", &r.timeoutMs);
        break;
    case CliCommand::Help:
    case CliCommand::Version:
        break;
    }
    if (!why.isEmpty())
        return failure(why, info);
    result.ok = true;
    return result;
}
