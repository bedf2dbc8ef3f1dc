// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The command line of corla-cli: what the user asked for, checked before any socket
// exists. Pure functions, so the rules and messages are tested without a network.

#include "tevnethost.h"

#include <QList>
#include <QString>
#include <QStringList>

// The process exit status of every command; the general help lists them all, each
// command's help those it gives.
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

enum class CliCommand
{
    Help,    // print helpText and exit 0 (also --help and "help COMMAND")
    Version, // print helpText (the version line) and exit 0
    Discover,
    Set,
    Reset,
    Ping,
    Apply,
    Doctor, // what on this computer can keep devices from being heard; sends nothing
    Watch,  // enquire again and again and print what changes, until a signal ends it
};

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

    CliCommand command = CliCommand::Help;
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
    TevMacAddr mac;
    // set: the mode; for static settings also address, mask, gateway and DNS server
    // (0.0.0.0 where not given or cleared). The device's MAC is filled in once it has answered.
    TevNetHostInfo settings;
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
    TevIpAddr target;
    int timeoutMs = kDefaultPingTimeoutMs;
};

struct CliParseResult
{
    bool ok = false;
    CliRequest request;
    // When !ok: one line saying what is wrong, for stderr (exit CliExit::Usage), and
    // where to read more.
    QString error;
    QString hint;
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

// What `set` sends to a device that reported `reported`: the requested mode and static
// fields, and the reported gateway and DNS server where the request keeps them.
TevNetHostInfo settingsForSet(const CliRequest& request, const TevNetHostInfo& reported);
