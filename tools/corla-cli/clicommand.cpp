// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "clicommand.h"

#include "corladevicelist.h"

#include "corlaplan.h"
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
  apply PLAN.csv   give the devices of a commissioning plan their planned settings
  ping IP          send one ICMP echo request to an address
  doctor           tell what on this computer can keep devices from being heard
  watch            enquire every few seconds and print each change as it happens
  help [COMMAND]   this text, or the options of a command

Requests go out from every IPv4 address of every interface that is up, running
and not loopback; --interface (repeatable, before or after the command) keeps
them to the addresses of the named interfaces. Echo requests and port probes are
unicast and follow the system's routes. -v (--verbose) writes the debug lines
to stderr. Run 'corla-cli COMMAND --help' for the options of a command.)";

const char* const DiscoverDescription =
    R"(Broadcasts a network enquiry, collects the answers for --wait ms and prints one
entry per MAC address; a later answer from the same device updates its settings.
The Interface column is the local address on which the device was first heard.
The enquiry goes out again 100, 300, 600, 900, 1300, 1800 and 2400 ms after the
first; --settle MS ends the listening early, once no new device has answered for
MS ms, counted from the latest copy sent (or from the last new device, if later);
no further copies go out then.
With --probe, TCP port 21 of every device is tried as soon as it is heard (each
within 4000 ms of its own start; at most a few hundred at once, the rest wait
their turn; again if a later answer changes its settings) and its reachability
shown with the reason: Reachable, Unreachable, or NoIp for a device
without address; "connection refused", "no answer within 4 s", "host unreachable",
"no route from this computer", ...

Formats: table (aligned columns), csv (the export format of the device list: a
header line and one line per device; with --probe two more columns, Status and
Reason), json (an array of objects); each lists the devices by serial number.)";

const char* const SetDescription =
    R"text(Finds the device by an enquiry carrying its MAC address, sends the new settings
and waits for its answer (each step within --wait ms). An enquiry naming the device
then confirms what it has: the outcome is what the device reports, not what an
answer claimed. A request without answer is sent again (at most 3 times) once the
enquiry shows the device still without the new settings; a lost answer whose change
was made ends "changed (answer lost)". When two senders answer differently for the
MAC address (a duplicate MAC or a forged answer), nothing is sent unless --force is
given, and nothing kept is taken from their answers.

--dhcp switches the device to DHCP; the address fields it reported are sent along
unchanged, as the configuration dialog does. --static needs --mask, or the mask as
a prefix length (--static 10.10.0.50/24); both may be given if they agree. Each
number of an address is written without leading zeros. What is not
mentioned is kept: without --gateway or --dns the device keeps the gateway and DNS
server it reports (also those its DHCP server gave it); --no-gateway and --no-dns
clear them (0.0.0.0). A kept gateway outside the new network makes the device
refuse the change. The address must start with a number from 1 to 223 other than
127; the mask must be a run of one bits followed by zero bits, neither 0.0.0.0 nor
255.255.255.255. A broadcast or multicast MAC address names no single device and is
refused, as for reset.

Before static settings are sent, one ICMP echo request (50 ms) checks that no
other host answers at the new address, and the system's neighbour table that none
answered ARP for it (a host that drops echo requests); if one does, nothing is
sent unless --force is given. The echo is skipped when the address is the
device's current one, since the device itself would answer.)text";

const char* const ResetDescription =
    R"text(Finds the device by an enquiry carrying its MAC address, sends a reset request
and waits --wait ms for its acknowledgement. Without one, an enquiry tells a lost
request (the device still answers: sent again, at most 3 times) from a lost
acknowledgement (the device has gone silent). The device restarts and does not
answer for a while; with --wait-return (the default at a terminal) its return is
watched with an enquiry every 2 s for up to 60 s and reported ("back after 14 s at
10.10.0.15"). A device for which two senders answer differently is not reset
unless --force is given.)text";

const char* const ApplyDescription =
    R"text(Gives each device of a commissioning plan the settings planned for it. The
plan is the CSV of 'discover --format csv', edited: columns by header name in any
order (MAC Address, Address mode, IP Address and Subnet Mask required; Gateway and
DNS Server empty or missing mean none; other columns ignored), separated by commas,
or by semicolons or tabs when the header line is, UTF-8 with or without a
byte-order mark, LF or CRLF. The unedited export is always a plan that changes
nothing, whatever the devices report.

1. The whole plan is checked first. Any fault (each is listed with its line) refuses
   it whole: nothing is sent (exit status 8).
2. One enquiry, answers collected for --wait ms, finds the devices. A row whose
   device does not answer ends "not found"; one whose device reports what the row
   says, "unchanged". A row asking a device for what no device can be given (the
   mode Unknown, a broadcast or zero MAC address, an address or mask a device
   refuses, an address planned twice) is a fault only when its device reports
   other settings; such a fault refuses the plan whole as well (exit status 8).
3. The changes are ordered so that no device takes an address before the device
   holding it has moved away. A swap or a longer circle of moves, and a move to an
   address held by a device that stays there, cannot be made one device at a time:
   those rows end "refused (order)" and are listed with the reason; the other rows
   do not depend on them and go ahead.
4. For each change in turn: the in-use check of set (one echo of 50 ms and the
   neighbour table), except for an address another device of the plan has just
   left; such a move is made only once that device's own change is confirmed. A
   host answering ends the row "in use" (--force skips the check). Then the change
   is sent and its answer awaited (--wait ms), and an enquiry naming the device
   confirms it: "changed" when every planned field is reported, else "not
   confirmed"; a refusal ends "refused: " and the device's reason.

The report has a line per plan row: MAC address, serial number, type, the settings
as found and as left, and the outcome; a table on stdout (--format csv or json for
machines), and with --report FILE also as CSV in that file. --dry-run sends only
enquiries and in-use checks and reports what would be done ("would change", with
the settings the device would be left with).)text";

const char* const DoctorDescription =
    R"text(Tells what on this computer can keep devices from being heard, without root
and without sending anything: the interfaces that are up and their IPv4
addresses (an interface without one, or with only a link-local 169.254.x.x
address), and whether a host firewall is active that drops the devices'
answers (UDP from port 62726): ufw, firewalld, or an nftables or iptables input
policy of drop. Where something is found, the command that lets the answers in
is printed. Rulesets that only root may read are reported as "could not check".
Devices behind a router cannot be found by broadcast at all.)text";

const char* const WatchDescription =
    R"(Broadcasts a network enquiry every --interval seconds and prints one line per
event as it happens:
  appeared      a device answered for the first time (its settings)
  changed       its settings changed (old -> new)
  verdict       TCP port 21's verdict changed, with its reason (each device is
                probed when it appears and when its address changes)
  conflicting   two senders answered differently for its MAC address
  no answer     it missed two enquiries in a row
  back          it answers again (how long it was silent)
Formats: table (a line of text per event, the time first) or jsonl (one JSON
object per line, for machines: "event", "time" in UTC, "mac", "serial", "type",
"ip" and what the event adds). Ctrl-C (SIGINT) or SIGTERM ends it: a summary
line goes to stderr (devices answering now, devices seen in all).)";

const char* const PingDescription =
    R"(Sends one ICMP echo request and waits at most --timeout ms for a reply. Without
an echo reply it tells why: a router on the way reports the host unreachable
(exit status 5), this computer has no route to the address (exit status 6), or
nothing came back (exit status 5); unless a host on a directly attached network
answers ARP at the address but drops echo requests, which many firewalls do
(exit status 7). With --interface the address must be routed through one of the
named interfaces (exit status 6 otherwise).)";

// Every status any command gives, for the general help; each command's help lists its own.
const char* const ExitCodes =
    R"(
Exit status:
  0  success (doctor: nothing found that keeps devices from being heard)
  1  usage error: bad arguments, a malformed or refused address, mask or MAC, an
     unknown interface name, an unreadable plan, a report folder not writable
  2  no answer: no device answered, the MAC was not found, or the change or reset
     was not confirmed (within --wait, after 3 attempts)
  3  the device refused the new settings (its reason is printed on stderr)
  4  set: a host already answers at the new static address (--force sends anyway)
  5  ping: no reply within --timeout, or a router reports the host unreachable
  6  no usable local IPv4 address on the (named) interfaces, or ping: no route to
     the address (through the named interfaces)
  7  ping: no echo reply, but a host answers ARP at the address
  8  apply: the plan was refused (faults, listed by line): nothing was sent
  9  apply: some rows did not end unchanged or changed (not found, in use,
     refused, not confirmed)
 10  apply: the report file could not be written (the table shows the outcome)
 11  set, reset: two senders answer differently for the device (a duplicate MAC
     address or a forged answer): nothing was sent (--force sends anyway)
 12  doctor: something on this computer can keep devices from being heard
130  watch: ended by SIGINT (Ctrl-C)
143  watch: ended by SIGTERM
)";

const char* const DiscoverExits =
    R"(
Exit status:
  0  at least one device answered
  1  usage error: bad arguments or an unknown interface name
  2  no device answered within --wait (the empty list is printed; 'corla-cli
     doctor' tells what on this computer may be the cause)
  6  no usable local IPv4 address on the (named) interfaces
)";

const char* const WatchExits =
    R"(
Exit status:
  1  usage error: bad arguments or an unknown interface name
  6  no usable local IPv4 address on the (named) interfaces
130  ended by SIGINT (Ctrl-C)
143  ended by SIGTERM
)";

const char* const DoctorExits =
    R"(
Exit status:
  0  nothing found that keeps devices from being heard
  1  usage error: bad arguments
 12  something was found (each finding is printed with what to do about it)
)";

const char* const SetExits =
    R"(
Exit status:
  0  the device reports the new settings
  1  usage error: bad arguments, a malformed or refused address, mask or MAC, or
     an unknown interface name
  2  no device with this MAC address answered, or the change was not confirmed:
     no answer after 3 attempts, or the device reports other settings
  3  the device refused the new settings (its reason is printed on stderr)
  4  a host already answers at the new static address (--force sends anyway)
  6  no usable local IPv4 address on the (named) interfaces
 11  two senders answer differently for the device: nothing was sent (--force
     sends anyway)
)";

const char* const ResetExits =
    R"(
Exit status:
  0  the device acknowledged the reset or went silent (and, with --wait-return,
     came back)
  1  usage error: bad arguments, a malformed or refused MAC, or an unknown
     interface name
  2  no device with this MAC address answered, no acknowledgement after 3
     attempts while the device kept answering, or (--wait-return) it did not come
     back within 60 s
  6  no usable local IPv4 address on the (named) interfaces
 11  two senders answer differently for the device: nothing was sent (--force
     sends anyway)
)";

const char* const PingExits =
    R"(
Exit status:
  0  the address answered
  1  usage error: bad arguments, a malformed address, or an unknown interface
     name
  5  no reply within --timeout, or a router reports the host unreachable
  6  no route to the address (through the named interfaces)
  7  no echo reply, but a host answers ARP at the address
)";

const char* const ApplyExits =
    R"(
Exit status:
  0  every row ended unchanged or changed (with --dry-run: would change)
  1  usage error: bad arguments, an unknown interface name, an unreadable plan,
     or a report folder that is missing or not writable
  6  no usable local IPv4 address on the (named) interfaces
  8  the plan was refused (faults, listed by line, in the file or against the
     devices found): nothing was sent
  9  some rows did not end unchanged or changed (not found, in use, refused, not
     confirmed)
 10  the report file could not be written (the table shows the outcome)
)";

struct OptionInfo
{
    const char* name;
    const char* description;
    const char* valueName; // nullptr for a switch
};

// Every option any command knows.
const OptionInfo Options[] = {
    {"interface", "Use only the IPv4 addresses of this interface (repeatable).", "name"},
    {"verbose", "Write the debug lines (frames sent, echo details) to stderr.", nullptr},
    {"wait", "Milliseconds to wait for answers (default 3000).", "ms"},
    {"settle",
     "Stop listening once no new device has answered for this many ms after the enquiry's "
     "latest copy (default: listen the whole --wait).",
     "ms"},
    {"probe", "Try TCP port 21 of every device and show its reachability.", nullptr},
    {"max-devices", "List at most this many devices (default and most 65536).", "n"},
    {"format", "Output format: table (default), csv or json.", "format"},
    {"dhcp", "Switch the device to DHCP.", nullptr},
    {"static", "Give the device this static address (IP or IP/prefix-length).", "ip"},
    {"mask", "Subnet mask of the static address (or give --static IP/24).", "mask"},
    {"gateway", "Gateway of the static address (default: the device's own).", "ip"},
    {"dns", "DNS server of the static address (default: the device's own).", "ip"},
    {"no-gateway", "Clear the device's gateway (0.0.0.0).", nullptr},
    {"no-dns", "Clear the device's DNS server (0.0.0.0).", nullptr},
    {"force",
     "Send even when a host answers at the address, or two senders answer differently for "
     "the device.",
     nullptr},
    {"wait-return", "reset: watch for the device's return (the default at a terminal).", nullptr},
    {"no-wait-return", "reset: do not watch for the device's return.", nullptr},
    {"dry-run", "Send only enquiries and in-use checks; report what would be done.", nullptr},
    {"report", "Also write the report to this file as CSV.", "file"},
    {"timeout", "Milliseconds to wait for the echo reply (default 1000).", "ms"},
    {"interval", "Seconds from one enquiry to the next (default 5, at least 1).", "s"},
};

// watch prints events, not a device list: its --format has words of its own.
const OptionInfo WatchFormat = {"format", "Output format: table (default) or jsonl.", "format"};

// The options every command and the bare program know; help and version are Qt's own.
const QStringList CommonOptions = {"interface", "verbose", "help", "help-all", "version"};

const OptionInfo* findOption(const QString& name)
{
    for (const OptionInfo& info : Options) {
        if (name == QLatin1String(info.name))
            return &info;
    }
    return nullptr;
}

QCommandLineOption option(const QString& name, const OptionInfo* info = nullptr)
{
    if (!info)
        info = findOption(name);
    Q_ASSERT(info);
    // -v is --verbose; the version has its long name only.
    const QStringList names = name == QLatin1String("verbose")
                                  ? QStringList{QStringLiteral("v"), name}
                                  : QStringList{name};
    return info->valueName ? QCommandLineOption(names, info->description, info->valueName)
                           : QCommandLineOption(names, info->description);
}

struct CommandInfo
{
    CliCommand command;
    const char* name;
    const char* syntax;
    const char* summary;
    const char* description;
    QStringList options;
    const char* exitStatus; // the statuses this command can give
};

const QList<CommandInfo>& commandInfos()
{
    static const QList<CommandInfo> table = {
        {CliCommand::Discover,
         "discover",
         "discover",
         "List the devices that answer an enquiry.",
         DiscoverDescription,
         {"wait", "settle", "probe", "format", "max-devices"},
         DiscoverExits},
        {CliCommand::Set,
         "set",
         "set MAC (--dhcp | --static IP --mask MASK [--gateway IP | --no-gateway] "
         "[--dns IP | --no-dns])",
         "Change the network settings of the device with this MAC address.",
         SetDescription,
         {"dhcp", "static", "mask", "gateway", "dns", "no-gateway", "no-dns", "force", "wait"},
         SetExits},
        {CliCommand::Reset,
         "reset",
         "reset MAC",
         "Reset the device with this MAC address.",
         ResetDescription,
         {"wait", "force", "wait-return", "no-wait-return"},
         ResetExits},
        {CliCommand::Ping,
         "ping",
         "ping IP",
         "Send one ICMP echo request to this address.",
         PingDescription,
         {"timeout"},
         PingExits},
        {CliCommand::Apply,
         "apply",
         "apply PLAN.csv",
         "Give each device of the plan its planned settings.",
         ApplyDescription,
         {"dry-run", "force", "wait", "format", "report"},
         ApplyExits},
        {CliCommand::Doctor,
         "doctor",
         "doctor",
         "Tell what on this computer can keep devices from being heard.",
         DoctorDescription,
         {},
         DoctorExits},
        {CliCommand::Watch,
         "watch",
         "watch",
         "Print each change of the devices that answer, as it happens.",
         WatchDescription,
         {"interval", "format"},
         WatchExits},
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

// A long option that Qt's parser takes the next argument for ("--wait 500").
bool takesValue(const QString& argument)
{
    if (!argument.startsWith(QLatin1String("--")) || argument.contains(QLatin1Char('=')))
        return false;
    const OptionInfo* info = findOption(argument.mid(2));
    return info && info->valueName;
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

// "discover takes it", "set and apply take it", "discover, set and apply take it".
QString takenBy(const QString& name)
{
    QStringList commands;
    for (const CommandInfo& info : commandInfos()) {
        if (info.options.contains(name))
            commands << QString::fromLatin1(info.name);
    }
    const QString last = commands.takeLast();
    if (commands.isEmpty())
        return last + QStringLiteral(" takes it");
    return commands.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last +
           QStringLiteral(" take it");
}

// What is wrong with the first faulty option: unknown to `info`'s command (or, without
// one, to every command), missing its value, or given one it does not take; empty when
// nothing is. Qt's parser would name an unknown option without its dashes, and only after
// the whole line is read. Values are taken as Qt takes them, so that "--wait --probe"
// leaves the judging of "--probe" as a number to --wait.
QString optionMistake(const QStringList& arguments, const CommandInfo* info)
{
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        if (a == QLatin1String("--"))
            break;
        if (!a.startsWith(QLatin1Char('-')) || a == QLatin1String("-"))
            continue;
        if (!a.startsWith(QLatin1String("--"))) {
            // Short options may come compacted ("-hv"); only help and version have one, and
            // Qt's parser takes "-?" for help on Windows alone.
#ifdef Q_OS_WIN
            const QString shortOptions = QStringLiteral("h?v");
#else
            const QString shortOptions = QStringLiteral("hv");
#endif
            for (const QChar c : a.mid(1)) {
                if (!shortOptions.contains(c))
                    return QStringLiteral("unknown option '%1'").arg(a);
            }
            continue;
        }
        const QString typed = a.section(QLatin1Char('='), 0, 0);
        const QString name = typed.mid(2);
        const OptionInfo* known = findOption(name);
        const bool common = CommonOptions.contains(name);
        if (!known && !common)
            return QStringLiteral("unknown option '%1'").arg(typed);
        if (info && !common && !info->options.contains(name))
            return QStringLiteral("unknown option '%1' for %2 (%3)")
                .arg(typed, info->name, takenBy(name));
        const bool hasValue = known && known->valueName;
        if (typed != a && !hasValue)
            return QStringLiteral("unexpected value after '%1'").arg(typed);
        if (typed == a && hasValue && ++i == arguments.size())
            return QStringLiteral("missing value after '%1'").arg(typed);
    }
    return QString();
}

void addCommonOptions(QCommandLineParser* parser)
{
    parser->addOption(option("interface"));
    parser->addOption(option("verbose"));
    parser->addHelpOption();
    parser->addOption(QCommandLineOption(QStringLiteral("version"),
                                         QStringLiteral("Displays version information.")));
}

// Qt's help text starts with the program's path as it was started; name it plainly.
QString helpOf(const QCommandLineParser& parser, const char* exitStatus)
{
    QString text = parser.helpText();
    const int end = text.indexOf(QLatin1String(" [options]"));
    if (text.startsWith(QLatin1String("Usage: ")) && end > 0)
        text.replace(7, end - 7, Program);
    return text + QLatin1String(exitStatus);
}

QString generalHelp()
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(GeneralDescription));
    addCommonOptions(&parser);
    parser.addPositionalArgument("command",
                                 "discover, set, reset, ping, apply, doctor, watch or help.",
                                 "COMMAND [ARGUMENTS]");
    return helpOf(parser, ExitCodes);
}

void setupCommandParser(const CommandInfo& info, QCommandLineParser* parser)
{
    parser->setApplicationDescription(QString::fromUtf8(info.description));
    for (const QString& name : info.options)
        parser->addOption(info.command == CliCommand::Watch && name == QLatin1String("format")
                              ? option(name, &WatchFormat)
                              : option(name));
    addCommonOptions(parser);
    parser->addPositionalArgument(info.name, info.summary, info.syntax);
}

// Without a command every command's options are known, so that "--wait 500" alone is
// answered with the missing command and "--wait 500 --help" with the help.
void setupBareParser(QCommandLineParser* parser)
{
    for (const OptionInfo& info : Options) {
        if (!CommonOptions.contains(QLatin1String(info.name)))
            parser->addOption(option(QLatin1String(info.name)));
    }
    addCommonOptions(parser);
    parser->addPositionalArgument("command", "", "COMMAND");
}

QString commandHelp(const CommandInfo& info)
{
    QCommandLineParser parser;
    setupCommandParser(info, &parser);
    return helpOf(parser, info.exitStatus);
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

QString checkMac(const QString& text, TevMacAddr* out)
{
    const QString why = checkMacText(text, out);
    if (!why.isEmpty())
        return why;
    if (isGroupMac(*out))
        return QStringLiteral("%1 is a broadcast or multicast address, which no single device has")
            .arg(text);
    return QString();
}

QString checkFormat(const QCommandLineParser& parser, CliFormat* out)
{
    if (!parser.isSet("format"))
        return QString();
    const QString format = parser.value("format");
    if (format == QLatin1String("table"))
        *out = CliFormat::Table;
    else if (format == QLatin1String("csv"))
        *out = CliFormat::Csv;
    else if (format == QLatin1String("json"))
        *out = CliFormat::Json;
    else
        return QStringLiteral("--format must be table, csv or json, not \"%1\"").arg(format);
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
        for (const char* name : {"mask", "gateway", "dns", "no-gateway", "no-dns"}) {
            if (parser.isSet(name))
                return QStringLiteral("--%1 goes with --static, not with --dhcp").arg(name);
        }
        r->settings.setAddressMode(TevAddressModeAuto);
        return QString();
    }
    for (const char* name : {"gateway", "dns"}) {
        if (parser.isSet(name) && parser.isSet(QStringLiteral("no-") + name))
            return QStringLiteral("--%1 and --no-%1 exclude each other").arg(name);
    }
    TevIpAddr ip, mask, prefixMask, gateway, dns;
    QString why = checkStaticText(parser.value("static"), "--static", &ip, &prefixMask);
    if (why.isEmpty() && !parser.isSet("mask") && prefixMask.toInt() == 0)
        return "--static needs --mask MASK, or a prefix length: --static IP/24";
    if (why.isEmpty() && parser.isSet("mask"))
        why = checkMaskText(parser.value("mask"), &mask);
    if (why.isEmpty() && prefixMask.toInt() != 0) {
        if (parser.isSet("mask") && mask != prefixMask)
            why = QStringLiteral("--mask %1 disagrees with the prefix length of --static %2 "
                                 "(the mask %3)")
                      .arg(parser.value("mask"), parser.value("static"),
                           QString::fromStdString(prefixMask.toString()));
        mask = prefixMask;
    }
    // The pane's rule, and a plan's: a device refuses the zero mask as its subnet.
    if (why.isEmpty() && mask.toInt() == 0)
        why = "--mask: 0.0.0.0 leaves the device no network";
    if (why.isEmpty() && parser.isSet("gateway"))
        why = checkIpText(parser.value("gateway"), "--gateway", &gateway);
    if (why.isEmpty() && parser.isSet("dns"))
        why = checkIpText(parser.value("dns"), "--dns", &dns);
    if (!why.isEmpty())
        return why;
    r->settings = TevNetHostInfo(ip, mask, gateway, dns, TevMacAddr(), TevAddressModeManual);
    r->keepGateway = !parser.isSet("gateway") && !parser.isSet("no-gateway");
    r->keepDns = !parser.isSet("dns") && !parser.isSet("no-dns");
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

    const QString mistake = optionMistake(arguments, info);
    if (!mistake.isEmpty())
        return failure(mistake, info);
    if (!info && !helpCommand && !word.isEmpty())
        return failure(QStringLiteral("unknown command '%1'").arg(word));

    QCommandLineParser parser;
    if (info)
        setupCommandParser(*info, &parser);
    else
        setupBareParser(&parser);
    // optionMistake() has found what Qt's parser would refuse; this is a safety net.
    if (!parser.parse(arguments))
        return failure(parser.errorText(), info);
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
                QStringLiteral("help: no command '%1'").arg(positional.mid(1).join(' ')));
        return help(commandHelp(*about));
    }
    if (!info)
        return failure(
            "no command given (discover, set, reset, ping, apply, doctor, watch or help)");

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
        why = checkFormat(parser, &r.format);
        if (why.isEmpty())
            why = checkMilliseconds(parser, "wait", &r.waitMs);
        if (why.isEmpty())
            why = checkMilliseconds(parser, "settle", &r.settleMs);
        if (why.isEmpty() && parser.isSet("max-devices")) {
            bool ok = false;
            const QString text = parser.value("max-devices");
            r.maxDevices = text.toInt(&ok);
            if (!ok || r.maxDevices < 1 || r.maxDevices > CorlaDeviceList::kDefaultCapacity)
                why =
                    QStringLiteral("--max-devices must be a whole number from 1 to %1, not \"%2\"")
                        .arg(CorlaDeviceList::kDefaultCapacity)
                        .arg(text);
        }
        break;
    case CliCommand::Set:
    case CliCommand::Reset:
        why = checkOneArgument(positional, "the device's MAC address");
        if (why.isEmpty())
            why = checkMac(positional.at(1), &r.mac);
        if (why.isEmpty() && r.command == CliCommand::Set)
            why = parseSet(parser, &r);
        r.force = parser.isSet("force");
        if (r.command == CliCommand::Reset) {
            if (parser.isSet("wait-return") && parser.isSet("no-wait-return"))
                why = "--wait-return and --no-wait-return exclude each other";
            else if (parser.isSet("wait-return") || parser.isSet("no-wait-return"))
                r.waitReturn = parser.isSet("wait-return") ? CliRequest::WaitReturn::Yes
                                                           : CliRequest::WaitReturn::No;
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
    case CliCommand::Apply:
        why = checkOneArgument(positional, "the plan's file name");
        if (why.isEmpty() && positional.at(1).isEmpty())
            why = "apply: the plan's file name is empty";
        r.planPath = positional.value(1);
        r.dryRun = parser.isSet("dry-run");
        r.force = parser.isSet("force");
        r.reportPath = parser.value("report");
        if (why.isEmpty() && parser.isSet("report") && r.reportPath.isEmpty())
            why = "--report needs a file name";
        if (why.isEmpty())
            why = checkFormat(parser, &r.format);
        if (why.isEmpty())
            why = checkMilliseconds(parser, "wait", &r.waitMs);
        break;
    case CliCommand::Doctor:
        if (positional.size() > 1)
            why = QStringLiteral("doctor takes no arguments, not \"%1\"").arg(positional.at(1));
        break;
    case CliCommand::Watch:
        if (positional.size() > 1)
            why = QStringLiteral("watch takes no arguments, not \"%1\"").arg(positional.at(1));
        if (why.isEmpty() && parser.isSet("format")) {
            const QString format = parser.value("format");
            if (format == QLatin1String("table"))
                r.format = CliFormat::Table;
            else if (format == QLatin1String("jsonl"))
                r.format = CliFormat::Jsonl;
            else
                why = QStringLiteral("--format of watch must be table or jsonl, not \"%1\"")
                          .arg(format);
        }
        if (why.isEmpty() && parser.isSet("interval")) {
            bool ok = false;
            const QString text = parser.value("interval");
            r.intervalS = text.toInt(&ok);
            if (!ok || r.intervalS < 1 || r.intervalS > CliRequest::kMaxMs / 1000)
                why = QStringLiteral("--interval must be a whole number of seconds from 1 to %1, "
                                     "not \"%2\"")
                          .arg(CliRequest::kMaxMs / 1000)
                          .arg(text);
        }
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

TevNetHostInfo settingsForSet(const CliRequest& request, const TevNetHostInfo& reported)
{
    TevNetHostInfo requested = request.settings;
    if (request.keepGateway)
        requested.setGateway(reported.gateway());
    if (request.keepDns)
        requested.setDns(reported.dns());
    return settingsToSend(reported, requested);
}
