// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tools/corla-cli/command.h"

#include "core/fleet/plan.h"
#include "core/fleet/settingsrules.h"
#include "corlaversion.h"
#include "tools/corla-cli/apply.h"
#include "tools/corla-cli/discover.h"
#include "tools/corla-cli/doctor.h"
#include "tools/corla-cli/ping.h"
#include "tools/corla-cli/reset.h"
#include "tools/corla-cli/setcommand.h"
#include "tools/corla-cli/watch.h"

#include <QCommandLineParser>

#include <algorithm>
#include <optional>

namespace corla {

namespace {

const QString Program = QStringLiteral("corla-cli");

const char* const GeneralDescription =
    R"(Finds and sets up instruments over the discovery protocol (UDP broadcast to
port 62726) without a window: for scripts and machines without a display.)";

const char* const GeneralDetails =
    R"(Requests go out from every IPv4 address of every interface that is up, running
and not loopback; --interface (repeatable, before or after the command) keeps
them to the addresses of the named interfaces. Echo requests and port probes are
unicast and follow the system's routes. -v (--verbose) writes the debug lines
to stderr. Run 'corla-cli COMMAND --help' for the options of a command.)";

// The options every command and the bare program know; help and version are Qt's own.
const QStringList CommonOptions = {"interface", "verbose", "help", "help-all", "version"};

QCommandLineOption interfaceOption()
{
    return QCommandLineOption(
        QStringLiteral("interface"),
        QStringLiteral("Use only the IPv4 addresses of this interface (repeatable)."),
        QStringLiteral("name"));
}

// -v is --verbose; the version has its long name only.
QCommandLineOption verboseOption()
{
    return QCommandLineOption(
        QStringList{QStringLiteral("v"), QStringLiteral("verbose")},
        QStringLiteral("Write the debug lines (frames sent, echo details) to stderr."));
}

void addCommonOptions(QCommandLineParser* parser)
{
    parser->addOption(interfaceOption());
    parser->addOption(verboseOption());
    parser->addHelpOption();
    parser->addOption(QCommandLineOption(QStringLiteral("version"),
                                         QStringLiteral("Displays version information.")));
}

// "discover, set, reset, apply, ping, doctor, watch or help"
QString commandWords()
{
    QStringList names;
    for (const Command* command : cliCommands())
        names << command->name();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" or help");
}

// Qt's help text starts with the program's path as it was started; name it plainly.
QString helpOf(const QCommandLineParser& parser, const QVector<CliExitStatus>& statuses)
{
    QString text = parser.helpText();
    const int end = text.indexOf(QLatin1String(" [options]"));
    if (text.startsWith(QLatin1String("Usage: ")) && end > 0)
        text.replace(7, end - 7, Program);
    return text + exitStatusList(statuses);
}

// The option of that name among every command's and the common ones, or none.
std::optional<QCommandLineOption> findOption(const QString& name)
{
    for (const QCommandLineOption& option : {interfaceOption(), verboseOption()}) {
        if (option.names().contains(name))
            return option;
    }
    for (const Command* command : cliCommands()) {
        for (const QCommandLineOption& option : command->options()) {
            if (option.names().contains(name))
                return option;
        }
    }
    return std::nullopt;
}

bool hasValue(const std::optional<QCommandLineOption>& option)
{
    return option && !option->valueName().isEmpty();
}

// A long option that Qt's parser takes the next argument for ("--wait 500").
bool takesValue(const QString& argument)
{
    if (!argument.startsWith(QLatin1String("--")) || argument.contains(QLatin1Char('=')))
        return false;
    return hasValue(findOption(argument.mid(2)));
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
    for (const Command* command : cliCommands()) {
        if (command->hasOption(name))
            commands << command->name();
    }
    const QString last = commands.takeLast();
    if (commands.isEmpty())
        return last + QStringLiteral(" takes it");
    return commands.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last +
           QStringLiteral(" take it");
}

// What is wrong with the first faulty option: unknown to `command` (or, without one, to
// every command), missing its value, or given one it does not take; empty when nothing is.
// Qt's parser would name an unknown option without its dashes, and only after the whole
// line is read. Values are taken as Qt takes them, so that "--wait --probe" leaves the
// judging of "--probe" as a number to --wait.
QString optionMistake(const QStringList& arguments, const Command* command)
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
        const auto known = findOption(name);
        const bool common = CommonOptions.contains(name);
        if (!known && !common)
            return QStringLiteral("unknown option '%1'").arg(typed);
        if (command && !common && !command->hasOption(name))
            return QStringLiteral("unknown option '%1' for %2 (%3)")
                .arg(typed, command->name(), takenBy(name));
        if (typed != a && !hasValue(known))
            return QStringLiteral("unexpected value after '%1'").arg(typed);
        if (typed == a && hasValue(known) && ++i == arguments.size())
            return QStringLiteral("missing value after '%1'").arg(typed);
    }
    return QString();
}

// Without a command every command's options are known, so that "--wait 500" alone is
// answered with the missing command and "--wait 500 --help" with the help.
void setUpBareParser(QCommandLineParser* parser)
{
    QStringList added;
    for (const Command* command : cliCommands()) {
        for (const QCommandLineOption& option : command->options()) {
            if (!added.contains(option.names().constFirst())) {
                added << option.names().constFirst();
                parser->addOption(option);
            }
        }
    }
    addCommonOptions(parser);
    parser->addPositionalArgument("command", "", "COMMAND");
}

CliParseResult failure(const QString& error, const Command* command = nullptr)
{
    CliParseResult result;
    result.error = error;
    result.helpTopic = command ? Program + QLatin1Char(' ') + command->name() : Program;
    return result;
}

CliParseResult help(const QString& text)
{
    CliParseResult result;
    result.ok = true;
    result.request.helpText = text;
    return result;
}

} // namespace

const QVector<CliExitStatus>& cliExitStatuses()
{
    static const QVector<CliExitStatus> table = {
        {CliExit::Ok, "success (doctor: nothing found that keeps devices from being heard)"},
        {CliExit::Usage, "usage error: bad arguments, a malformed or refused address, mask or MAC, "
                         "an\nunknown interface name, an unreadable plan, a report folder not "
                         "writable"},
        {CliExit::NoAnswer, "no answer: no device answered, the MAC was not found, or the change "
                            "or reset\nwas not confirmed (within --wait, after 3 attempts)"},
        {CliExit::Refused, "the device refused the new settings (its reason is printed on stderr)"},
        {CliExit::AddressInUse,
         "set: a host already answers at the new static address (--force sends anyway)"},
        {CliExit::NoReply,
         "ping: no reply within --timeout, or a router reports the host unreachable"},
        {CliExit::NoNetwork, "no usable local IPv4 address on the (named) interfaces, or ping: no "
                             "route to\nthe address (through the named interfaces)"},
        {CliExit::LinkOnly, "ping: no echo reply, but a host answers ARP at the address"},
        {CliExit::PlanRefused,
         "apply: the plan was refused (faults, listed by line): nothing was sent"},
        {CliExit::RowsFailed, "apply: some rows did not end unchanged or changed (not found, in "
                              "use,\nrefused, not confirmed)"},
        {CliExit::ReportNotWritten,
         "apply: the report file could not be written (the table shows the outcome)"},
        {CliExit::Conflicting, "set, reset: two senders answer differently for the device (a "
                               "duplicate MAC\naddress or a forged answer): nothing was sent "
                               "(--force sends anyway)"},
        {CliExit::HostProblem,
         "doctor: something on this computer can keep devices from being heard"},
        {CliExit::Interrupted, "watch: ended by SIGINT (Ctrl-C)"},
        {CliExit::Terminated, "watch: ended by SIGTERM"},
    };
    return table;
}

QString exitStatusList(const QVector<CliExitStatus>& statuses)
{
    QString text = QStringLiteral("\nExit status:\n");
    for (const CliExitStatus& status : statuses)
        text += QStringLiteral("%1  %2\n")
                    .arg(status.code, 3)
                    .arg(QString::fromUtf8(status.text)
                             .replace(QLatin1Char('\n'), QLatin1String("\n     ")));
    return text;
}

Command::Command(const Texts& texts, QList<QCommandLineOption> options,
                 QVector<CliExitStatus> exits)
    : m_texts(texts), m_options(std::move(options)), m_exits(std::move(exits))
{
    // The general help's list holds every status a command gives.
    for ([[maybe_unused]] const CliExitStatus& status : m_exits)
        Q_ASSERT(
            std::any_of(cliExitStatuses().begin(), cliExitStatuses().end(),
                        [&](const CliExitStatus& known) { return known.code == status.code; }));
}

bool Command::hasOption(const QString& name) const
{
    for (const QCommandLineOption& option : m_options) {
        if (option.names().contains(name))
            return true;
    }
    return false;
}

void Command::setUp(QCommandLineParser* parser) const
{
    parser->setApplicationDescription(QString::fromUtf8(m_texts.description));
    for (const QCommandLineOption& option : m_options)
        parser->addOption(option);
    addCommonOptions(parser);
    parser->addPositionalArgument(name(), QString::fromUtf8(m_texts.summary),
                                  QString::fromUtf8(m_texts.syntax));
}

QString Command::helpText() const
{
    QCommandLineParser parser;
    setUp(&parser);
    return helpOf(parser, m_exits);
}

const QVector<const Command*>& cliCommands()
{
    static const DiscoverCommand discover;
    static const SetCommand set;
    static const ResetCommand reset;
    static const ApplyCommand apply;
    static const PingCommand ping;
    static const DoctorCommand doctor;
    static const WatchCommand watch;
    static const QVector<const Command*> commands = {&discover, &set,    &reset, &apply,
                                                     &ping,     &doctor, &watch};
    return commands;
}

const Command* findCliCommand(const QString& name)
{
    for (const Command* command : cliCommands()) {
        if (command->name() == name)
            return command;
    }
    return nullptr;
}

QString generalHelp()
{
    QString list;
    for (const Command* command : cliCommands())
        list += QStringLiteral("  %1%2\n")
                    .arg(QString::fromUtf8(command->texts().usage).leftJustified(17),
                         QString::fromUtf8(command->texts().listText));
    list += QStringLiteral("  help [COMMAND]   this text, or the options of a command\n");
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(GeneralDescription) +
                                     QStringLiteral("\n\nCommands:\n") + list + QLatin1Char('\n') +
                                     QString::fromUtf8(GeneralDetails));
    addCommonOptions(&parser);
    parser.addPositionalArgument("command", commandWords() + QLatin1Char('.'),
                                 "COMMAND [ARGUMENTS]");
    return helpOf(parser, cliExitStatuses());
}

namespace CliOption {

QCommandLineOption wait()
{
    return QCommandLineOption(QStringLiteral("wait"),
                              QStringLiteral("Milliseconds to wait for answers (default 3000)."),
                              QStringLiteral("ms"));
}

QCommandLineOption format()
{
    return QCommandLineOption(QStringLiteral("format"),
                              QStringLiteral("Output format: table (default), csv or json."),
                              QStringLiteral("format"));
}

QCommandLineOption force()
{
    return QCommandLineOption(QStringLiteral("force"),
                              QStringLiteral("Send even when a host answers at the address, or two "
                                             "senders answer differently for the device."));
}

} // namespace CliOption

namespace CliCheck {

QString milliseconds(const QCommandLineParser& parser, const QString& name, int* out)
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

QString format(const QCommandLineParser& parser, CliFormat* out)
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

QString oneArgument(const QStringList& positional, const QString& what)
{
    if (positional.size() < 2)
        return QStringLiteral("%1 needs %2").arg(positional.first(), what);
    if (positional.size() > 2)
        return QStringLiteral("%1 takes only %2, not also \"%3\"")
            .arg(positional.first(), what, positional.at(2));
    return QString();
}

QString noArgument(const QStringList& positional)
{
    if (positional.size() > 1)
        return QStringLiteral("%1 takes no arguments, not \"%2\"")
            .arg(positional.first(), positional.at(1));
    return QString();
}

QString mac(const QString& text, MacAddress* out)
{
    const QString why = checkMacText(text, out);
    if (!why.isEmpty())
        return why;
    if (isGroupMac(*out))
        return QStringLiteral("%1 is a broadcast or multicast address, which no single device has")
            .arg(text);
    return QString();
}

} // namespace CliCheck

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
    const Command* command = findCliCommand(word);
    const bool helpCommand = word == QLatin1String("help");

    const QString mistake = optionMistake(arguments, command);
    if (!mistake.isEmpty())
        return failure(mistake, command);
    if (!command && !helpCommand && !word.isEmpty())
        return failure(QStringLiteral("unknown command '%1'").arg(word));

    QCommandLineParser parser;
    if (command)
        command->setUp(&parser);
    else
        setUpBareParser(&parser);
    // optionMistake() has found what Qt's parser would refuse; this is a safety net.
    if (!parser.parse(arguments))
        return failure(parser.errorText(), command);
    if (parser.isSet("help") || parser.isSet("help-all"))
        return help(command ? command->helpText() : generalHelp());
    if (parser.isSet("version"))
        return help(Program + QLatin1Char(' ') + QLatin1String(CORLA_VERSION) + QLatin1Char('\n'));
    if (helpCommand) {
        const QStringList positional = parser.positionalArguments();
        if (positional.size() < 2)
            return help(generalHelp());
        const Command* about = findCliCommand(positional.at(1));
        if (!about || positional.size() > 2)
            return failure(
                QStringLiteral("help: no command '%1'").arg(positional.mid(1).join(' ')));
        return help(about->helpText());
    }
    if (!command)
        return failure(QStringLiteral("no command given (%1)").arg(commandWords()));

    CliParseResult result;
    CliRequest& r = result.request;
    r.command = command;
    r.verbose = parser.isSet("verbose");
    r.interfaces = parser.values("interface");
    for (const QString& name : qAsConst(r.interfaces)) {
        if (name.isEmpty())
            return failure("--interface needs a name", command);
    }
    const QString why = command->parse(parser, parser.positionalArguments(), &r);
    if (!why.isEmpty())
        return failure(why, command);
    result.ok = true;
    return result;
}

} // namespace corla
