// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The commands of corla-cli. Each is a Command: its name, the texts of its help, its
// options, the exit statuses it gives, the checking of its arguments and its run. The
// general help, each command's help and the argument errors are all made from these, so
// that they (and the man page and completion made from the help) cannot disagree.

#include "core/wire/addresses.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

class QCommandLineParser;

namespace corla {

class CliSession;
class Command;

// The process exit status of every command.
namespace CliExit {
enum : int
{
    Ok = 0,
    Usage = 1,        // bad arguments, an unknown interface, an unreadable plan or report folder
    NoAnswer = 2,     // no device answered (nothing discovered, MAC not found, no confirmation)
    Refused = 3,      // the device refused the new settings
    AddressInUse = 4, // set: a host answers at the new address and --force was not given
    NoReply = 5,      // ping: no reply within the time limit
    NoNetwork = 6,    // no usable local IPv4 address (on the named interfaces); ping: no route
    LinkOnly = 7,     // ping: no echo reply, but a host answers ARP at the address
    PlanRefused = 8,  // apply: the plan has faults, so nothing was sent
    RowsFailed = 9,   // apply: some rows did not end unchanged or changed
    ReportNotWritten = 10, // apply: the report file could not be written
    Conflicting = 11,      // set, reset: two senders answer differently for the device
    HostProblem = 12,      // doctor: something on this computer can keep devices from being heard
    Interrupted = 130,     // watch: ended by SIGINT (Ctrl-C)
    Terminated = 143,      // watch: ended by SIGTERM
};
}

// One entry of an "Exit status:" list. Where the text is wrapped, '\n' marks the break.
struct CliExitStatus
{
    int code;
    const char* text;
};

// Every status any command gives, as the general help lists them.
const QVector<CliExitStatus>& cliExitStatuses();

// "\nExit status:\n" and one entry a status, the code right-aligned in three columns.
QString exitStatusList(const QVector<CliExitStatus>& statuses);

enum class CliFormat
{
    Table,
    Csv,
    Json,
    Jsonl, // watch: one JSON object per line
};

struct CliRequest
{
    static constexpr int kDefaultWaitMs = 3000;
    static constexpr int kDefaultPingTimeoutMs = 1000;
    static constexpr int kMaxMs = 3600000;
    static constexpr int kDefaultIntervalS = 5;

    // The command to run; none for a help or version request, which prints helpText.
    const Command* command = nullptr;
    QString helpText;
    // Every command: the interfaces whose addresses may be used; empty means all usable.
    QStringList interfaces;
    bool verbose = false;

    // discover, apply: how long answers are collected. set, reset, apply: how long each
    // answer is awaited.
    int waitMs = kDefaultWaitMs;
    bool probe = false;
    // discover: stop listening once no new device has answered for this long after the
    // enquiry's last copy; 0 listens the whole wait.
    int settleMs = 0;
    // watch: seconds from one enquiry to the next.
    int intervalS = kDefaultIntervalS;
    // discover: devices listed at most; answers from further ones are counted, not listed.
    int maxDevices = 65536;
    CliFormat format = CliFormat::Table;

    // set, reset
    MacAddress mac;
    // set: the mode; for static settings also address, mask, gateway and DNS server
    // (0.0.0.0 where not given or cleared). The device's MAC is filled in once it has answered.
    NetworkSettings settings;
    // set --static: the gateway or DNS server was neither given nor cleared, so the device
    // keeps the one it reports.
    bool keepGateway = false;
    bool keepDns = false;
    // set, apply: skip the in-use check; set, reset, apply: act on a conflicting device too.
    bool force = false;
    // reset: watch for the device's return; Auto watches when stdout is a terminal.
    enum class WaitReturn
    {
        Auto,
        Yes,
        No,
    };
    WaitReturn waitReturn = WaitReturn::Auto;

    // apply
    QString planPath;
    QString reportPath; // empty: no report file
    bool dryRun = false;

    // ping
    Ipv4Address target;
    int timeoutMs = kDefaultPingTimeoutMs;
};

class Command
{
public:
    // The texts of a command's help.
    struct Texts
    {
        const char* name;
        const char* usage;       // in the general help's list: "set MAC"
        const char* listText;    // beside it there
        const char* syntax;      // the help's usage line after "[options]"
        const char* summary;     // the help's "Arguments:" entry
        const char* description; // the help's text before the options
    };

    Command(const Texts& texts, QList<QCommandLineOption> options, QVector<CliExitStatus> exits);
    virtual ~Command() = default;
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;

    QString name() const { return QLatin1String(m_texts.name); }
    const Texts& texts() const { return m_texts; }
    // Its own options, in the help's order; the common ones (--interface, --verbose, --help,
    // --version) follow them.
    const QList<QCommandLineOption>& options() const { return m_options; }
    bool hasOption(const QString& name) const;
    // The statuses it gives, in its own words.
    const QVector<CliExitStatus>& exitStatuses() const { return m_exits; }

    // Sets up a parser for this command's line.
    void setUp(QCommandLineParser* parser) const;
    QString helpText() const;

    // Checks what is particular to the command (positional holds the command word first)
    // into request, which holds the common options already; the error's text, or empty.
    virtual QString parse(const QCommandLineParser& parser, const QStringList& positional,
                          CliRequest* request) const = 0;
    // Runs a checked request and returns the exit status.
    virtual int run(CliSession& session, const CliRequest& request) const = 0;

private:
    Texts m_texts;
    QList<QCommandLineOption> m_options;
    QVector<CliExitStatus> m_exits;
};

// Every command, in the order the general help lists them.
const QVector<const Command*>& cliCommands();
const Command* findCliCommand(const QString& name);

// The general help: the command list, the common options and every exit status.
QString generalHelp();

// Options more than one command knows.
namespace CliOption {
QCommandLineOption wait();
QCommandLineOption format();
QCommandLineOption force();
} // namespace CliOption

// Checks shared by several commands; each returns the error's text, or empty.
namespace CliCheck {
// A whole number of milliseconds from 1 to CliRequest::kMaxMs, when the option is given.
QString milliseconds(const QCommandLineParser& parser, const QString& name, int* out);
// --format table, csv or json, when given.
QString format(const QCommandLineParser& parser, CliFormat* out);
// Exactly one positional argument after the command.
QString oneArgument(const QStringList& positional, const QString& what);
// None after the command.
QString noArgument(const QStringList& positional);
// A MAC address that names a single device.
QString mac(const QString& text, MacAddress* out);
} // namespace CliCheck

struct CliParseResult
{
    bool ok = false;
    CliRequest request;
    // When !ok: one line saying what is wrong, for stderr (exit CliExit::Usage), and what
    // comes before --help in the pointer to the help ("corla-cli" or "corla-cli set").
    QString error;
    QString helpTopic;
};

// arguments as QCoreApplication::arguments() gives them, the program first.
CliParseResult parseCliArguments(const QStringList& arguments);

// One network interface as the system lists it.
struct CliInterfaceName
{
    QString name;
    QString humanReadableName;
};
// The first requested name that matches no interface (by either name), or an empty string.
QString unknownInterface(const QStringList& requested, const QList<CliInterfaceName>& available);

} // namespace corla
