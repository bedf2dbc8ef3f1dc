// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/net/hostreport.h"

#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>

namespace corla {

namespace {

const char* const DevicePort = "62726";

// What the report says about one kind of firewall: a line for a person, and whether it is
// something that keeps the devices' answers out.
struct Finding
{
    QString line;
    bool problem = false;
};

// The answers to a discovery are unicast datagrams from the devices' port to the port the
// enquiry went out from; a stateful filter never saw a request to the device's address.
const char* const ConntrackNote =
    "Connection tracking does not relate the devices' answers to a broadcast enquiry, so "
    "a drop policy drops them too";

QString letInWith(const QString& command)
{
    return QStringLiteral(" To let the devices' answers (UDP from port %1) in: %2")
        .arg(QLatin1String(DevicePort), command);
}

QList<Finding> interfaceFindings(const QList<HostInterface>& interfaces)
{
    QList<Finding> findings;
    bool anyUsable = false;
    for (const HostInterface& iface : interfaces) {
        if (iface.loopback || !iface.up)
            continue;
        if (iface.ipv4.isEmpty()) {
            findings << Finding{QStringLiteral("%1: up, without an IPv4 address: discovery does "
                                               "not use it")
                                    .arg(iface.name),
                                false};
            continue;
        }
        const QString addresses = iface.ipv4.join(QStringLiteral(", "));
        if (!iface.running) {
            findings << Finding{QStringLiteral("%1: %2, but without a link (no cable or no "
                                               "carrier): discovery does not use it")
                                    .arg(iface.name, addresses),
                                false};
            continue;
        }
        anyUsable = true;
        const bool linkLocalOnly =
            std::all_of(iface.ipv4.begin(), iface.ipv4.end(), [](const QString& entry) {
                return QHostAddress(entry.section(QLatin1Char('/'), 0, 0))
                    .isInSubnet(QHostAddress(QStringLiteral("169.254.0.0")), 16);
            });
        if (linkLocalOnly)
            findings << Finding{QStringLiteral("%1: %2 only, a link-local address: no DHCP server "
                                               "gave it one. Devices with addresses of another "
                                               "network cannot answer to it; give the interface an "
                                               "address in the devices' network")
                                    .arg(iface.name, addresses),
                                true};
        else
            findings << Finding{QStringLiteral("%1: %2").arg(iface.name, addresses), false};
    }
    if (!anyUsable)
        findings << Finding{QStringLiteral("No interface is up and running with an IPv4 address "
                                           "(apart from loopback): discovery has nothing to send "
                                           "from"),
                            true};
    return findings;
}

bool fileSays(const std::optional<QByteArray>& file, const QRegularExpression& pattern)
{
    return file && pattern.match(QString::fromUtf8(*file)).hasMatch();
}

Finding ufwFinding(const HostProbe& probe)
{
    const std::optional<QByteArray> conf = probe.readFile(QStringLiteral("/etc/ufw/ufw.conf"));
    const HostCommandOutput status = probe.run(QStringLiteral("ufw"), {QStringLiteral("status")});
    const QString allow =
        QStringLiteral("sudo ufw allow proto udp from any port %1").arg(QLatin1String(DevicePort));
    if (status.ran && status.output.contains(QLatin1String("Status: active"))) {
        if (status.output.contains(QLatin1String(DevicePort)))
            return {QStringLiteral("ufw: active; its rules name port %1")
                        .arg(QLatin1String(DevicePort)),
                    false};
        return {QStringLiteral("ufw: active, and no rule lets the devices' answers in.") +
                    letInWith(allow),
                true};
    }
    if (status.ran && status.output.contains(QLatin1String("Status: inactive")))
        return {QStringLiteral("ufw: installed, not active"), false};
    static const QRegularExpression enabled(QStringLiteral("^\\s*ENABLED\\s*=\\s*\"?yes\"?\\s*$"),
                                            QRegularExpression::MultilineOption |
                                                QRegularExpression::CaseInsensitiveOption);
    if (fileSays(conf, enabled))
        return {QStringLiteral("ufw: enabled in /etc/ufw/ufw.conf (its rules need root to read: "
                               "'sudo ufw status'). Unless a rule names port %1 there, it drops "
                               "the devices' answers.")
                        .arg(QLatin1String(DevicePort)) +
                    letInWith(allow),
                true};
    if (conf)
        return {QStringLiteral("ufw: installed, not enabled"), false};
    if (status.found)
        return {QStringLiteral("ufw: could not check ('ufw status' needs root, and "
                               "/etc/ufw/ufw.conf cannot be read)"),
                false};
    return {QStringLiteral("ufw: not installed"), false};
}

Finding firewalldFinding(const HostProbe& probe)
{
    // Running by any of three witnesses; stopped only when one says so and none disagrees.
    bool running = false, stopped = false;
    const HostCommandOutput unit = probe.run(
        QStringLiteral("systemctl"), {QStringLiteral("is-active"), QStringLiteral("firewalld")});
    const QString unitState = unit.ran ? unit.output.trimmed() : QString();
    running = unitState == QLatin1String("active");
    for (const char* path : {"/run/firewalld.pid", "/var/run/firewalld.pid"}) {
        const std::optional<QByteArray> pid = probe.readFile(QLatin1String(path));
        if (!pid)
            continue;
        const std::optional<QByteArray> comm =
            probe.readFile(QStringLiteral("/proc/%1/comm").arg(QString::fromUtf8(pid->trimmed())));
        running = running || (comm && comm->contains("firewalld"));
    }
    const HostCommandOutput state =
        probe.run(QStringLiteral("firewall-cmd"), {QStringLiteral("--state")});
    const QString stateText = state.ran ? state.output.trimmed() : QString();
    running = running || stateText == QLatin1String("running");
    stopped = stateText == QLatin1String("not running") || unitState == QLatin1String("inactive") ||
              unitState == QLatin1String("failed");

    bool installed = state.found;
    for (const char* path :
         {"/usr/lib/systemd/system/firewalld.service", "/lib/systemd/system/firewalld.service",
          "/etc/systemd/system/firewalld.service"})
        installed = installed || probe.readFile(QLatin1String(path)).has_value();
    if (!running && !installed)
        return {QStringLiteral("firewalld: not installed"), false};
    if (!running && stopped)
        return {QStringLiteral("firewalld: installed, not running"), false};
    if (!running)
        return {QStringLiteral("firewalld: could not check whether it runs"), false};

    const HostCommandOutput rules =
        probe.run(QStringLiteral("firewall-cmd"), {QStringLiteral("--list-rich-rules")});
    if (rules.ran && rules.exitCode == 0 && rules.output.contains(QLatin1String(DevicePort)))
        return {QStringLiteral("firewalld: running; a rich rule names port %1")
                    .arg(QLatin1String(DevicePort)),
                false};
    return {QStringLiteral("firewalld: running, and %1 lets the devices' answers in.")
                    .arg(rules.ran && rules.exitCode == 0
                             ? QStringLiteral("no rich rule")
                             : QStringLiteral("no rule that could be read")) +
                letInWith(QStringLiteral("sudo firewall-cmd --add-rich-rule='rule family=ipv4 "
                                         "source-port port=%1 protocol=udp accept'")
                              .arg(QLatin1String(DevicePort))),
            true};
}

QString couldNotCheck(const QString& what, const HostCommandOutput& output, const QString& command)
{
    // The first line of what the tool said, so that an unexpected failure shows as such.
    const QString said = output.output.trimmed().section(QLatin1Char('\n'), 0, 0);
    return QStringLiteral("%1: could not check: reading the rules needs root or CAP_NET_ADMIN%2; "
                          "'%3' shows them")
        .arg(what, said.isEmpty() ? QString() : QStringLiteral(" (\"%1\")").arg(said), command);
}

// Input chains of the nftables ruleset whose policy is drop, and whether iptables-nft's
// table is among the tables (then iptables shows the same chains again).
struct NftRuleset
{
    QList<Finding> findings;
    bool hasIptablesTable = false;
};

NftRuleset nftFindings(const QString& ruleset)
{
    NftRuleset result;
    static const QRegularExpression tableLine(
        QStringLiteral("^\\s*table\\s+(\\S+)\\s+(\\S+)\\s*\\{"));
    static const QRegularExpression chainLine(QStringLiteral("^\\s*chain\\s+(\\S+)\\s*\\{"));
    static const QRegularExpression opens(
        QStringLiteral("\\budp\\s+sport\\s+(\\{[^}]*\\b%1\\b[^}]*\\}|%1\\b).*\\baccept\\b")
            .arg(QLatin1String(DevicePort)));
    QString family, table, chain;
    bool inputHook = false, dropPolicy = false, opened = false;
    const auto endChain = [&] {
        // IPv6 filters do not see the devices' IPv4 answers.
        if (inputHook && dropPolicy && family != QLatin1String("ip6") && opened) {
            result.findings << Finding{QStringLiteral("nftables: the input chain \"%1 %2 %3\" "
                                                      "drops by policy, and a rule lets UDP from "
                                                      "port %4 in")
                                           .arg(family, table, chain, QLatin1String(DevicePort)),
                                       false};
        } else if (inputHook && dropPolicy && family != QLatin1String("ip6")) {
            result.findings << Finding{
                QStringLiteral("nftables: the input chain \"%1 %2 %3\" has the policy drop. %4.")
                        .arg(family, table, chain, QLatin1String(ConntrackNote)) +
                    letInWith(QStringLiteral("sudo nft insert rule %1 %2 %3 udp sport %4 accept")
                                  .arg(family, table, chain, QLatin1String(DevicePort))),
                true};
        }
        chain.clear();
        inputHook = dropPolicy = opened = false;
    };
    for (const QString& line : ruleset.split(QLatin1Char('\n'))) {
        QRegularExpressionMatch m = tableLine.match(line);
        if (m.hasMatch()) {
            family = m.captured(1);
            table = m.captured(2);
            result.hasIptablesTable = result.hasIptablesTable || (family == QLatin1String("ip") &&
                                                                  table == QLatin1String("filter"));
            continue;
        }
        m = chainLine.match(line);
        if (m.hasMatch()) {
            chain = m.captured(1);
            continue;
        }
        if (chain.isEmpty())
            continue;
        if (line.trimmed() == QLatin1String("}")) {
            endChain();
            continue;
        }
        if (line.contains(QLatin1String("hook input")))
            inputHook = true;
        if (line.contains(QLatin1String("policy drop")))
            dropPolicy = true;
        if (opens.match(line).hasMatch())
            opened = true;
    }
    if (result.findings.isEmpty())
        result.findings << Finding{QStringLiteral("nftables: no input chain drops by policy"),
                                   false};
    return result;
}

Finding iptablesFinding(const HostCommandOutput& output)
{
    const QStringList rules = output.output.split(QLatin1Char('\n'));
    if (!rules.contains(QLatin1String("-P INPUT DROP")))
        return {QStringLiteral("iptables: the INPUT chain does not drop by policy"), false};
    static const QRegularExpression opens(
        QStringLiteral("^-A INPUT .*-p udp .*--sport %1\\b.*-j ACCEPT")
            .arg(QLatin1String(DevicePort)));
    for (const QString& rule : rules) {
        if (opens.match(rule).hasMatch())
            return {QStringLiteral("iptables: the INPUT chain drops by policy, and a rule lets "
                                   "UDP from port %1 in")
                        .arg(QLatin1String(DevicePort)),
                    false};
    }
    return {QStringLiteral("iptables: the INPUT chain has the policy DROP. %1.")
                    .arg(QLatin1String(ConntrackNote)) +
                letInWith(QStringLiteral("sudo iptables -I INPUT -p udp --sport %1 -j ACCEPT")
                              .arg(QLatin1String(DevicePort))),
            true};
}

QList<Finding> packetFilterFindings(const HostProbe& probe)
{
    QList<Finding> findings;
    const HostCommandOutput nft =
        probe.run(QStringLiteral("nft"), {QStringLiteral("list"), QStringLiteral("ruleset")});
    const HostCommandOutput iptables =
        probe.run(QStringLiteral("iptables"), {QStringLiteral("-S"), QStringLiteral("INPUT")});
    bool iptablesShown = false;
    if (nft.ran && nft.exitCode == 0) {
        const NftRuleset ruleset = nftFindings(nft.output);
        findings << ruleset.findings;
        iptablesShown = ruleset.hasIptablesTable;
    } else if (nft.found) {
        findings << Finding{
            couldNotCheck(QStringLiteral("nftables"), nft, QStringLiteral("sudo nft list ruleset")),
            false};
    }
    if (iptables.ran && iptables.exitCode == 0) {
        if (!iptablesShown)
            findings << iptablesFinding(iptables);
    } else if (iptables.found) {
        findings << Finding{couldNotCheck(QStringLiteral("iptables"), iptables,
                                          QStringLiteral("sudo iptables -S INPUT")),
                            false};
    }
    if (!nft.found && !iptables.found)
        findings << Finding{QStringLiteral("packet filter: could not check: neither nft nor "
                                           "iptables is installed"),
                            false};
    return findings;
}

HostCommandOutput runProgram(const QString& program, const QStringList& arguments)
{
    HostCommandOutput result;
    // A user's PATH often lacks the sbin folders where the firewall tools live.
    QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(program, {QStringLiteral("/usr/local/sbin"),
                                                        QStringLiteral("/usr/sbin"),
                                                        QStringLiteral("/sbin")});
    if (path.isEmpty())
        return result;
    result.found = true;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(path, arguments);
    if (!process.waitForStarted(3000))
        return result;
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(1000);
        return result;
    }
    result.ran = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.output = QString::fromLocal8Bit(process.readAll());
    return result;
}

} // namespace

HostProbe HostProbe::system()
{
    HostProbe probe;
    probe.interfaces = [] {
        QList<HostInterface> list;
        for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
            HostInterface entry;
            entry.name = iface.name();
            entry.up = iface.flags().testFlag(QNetworkInterface::IsUp);
            entry.running = iface.flags().testFlag(QNetworkInterface::IsRunning);
            entry.loopback = iface.flags().testFlag(QNetworkInterface::IsLoopBack);
            for (const QNetworkAddressEntry& address : iface.addressEntries()) {
                if (address.ip().protocol() == QAbstractSocket::IPv4Protocol)
                    entry.ipv4 << QStringLiteral("%1/%2")
                                      .arg(address.ip().toString())
                                      .arg(address.prefixLength());
            }
            list << entry;
        }
        return list;
    };
    probe.readFile = [](const QString& path) -> std::optional<QByteArray> {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return file.readAll();
    };
    probe.run = runProgram;
    return probe;
}

HostReport readHostReport()
{
    return readHostReport(HostProbe::system());
}

HostReport readHostReport(const HostProbe& probe)
{
    HostReport report;
    const auto add = [&report](const QList<Finding>& findings) {
        for (const Finding& finding : findings) {
            report.lines << QStringLiteral("  ") + finding.line;
            if (finding.problem)
                report.problems << finding.line;
        }
    };
    report.lines << QStringLiteral("Interfaces:");
    add(interfaceFindings(probe.interfaces()));
    report.lines << QStringLiteral("Firewall:");
    add({ufwFinding(probe), firewalldFinding(probe)});
    add(packetFilterFindings(probe));
    report.lines << QStringLiteral("Routers: devices behind a router cannot be found by "
                                   "broadcast; discovery reaches only the networks this computer "
                                   "is attached to.");
    report.problemFound = !report.problems.isEmpty();
    report.lines << (report.problemFound
                         ? (report.problems.size() == 1
                                ? QStringLiteral("Found 1 thing here that can keep devices from "
                                                 "being heard (above).")
                                : QStringLiteral("Found %1 things here that can keep devices "
                                                 "from being heard (above).")
                                      .arg(report.problems.size()))
                         : QStringLiteral("Nothing found here that keeps devices from being "
                                          "heard."));
    return report;
}

QStringList hostReportLines(const HostReport& report)
{
    return report.lines;
}

} // namespace corla
