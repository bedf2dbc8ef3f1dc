// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tools/corla-cli/setcommand.h"

#include "core/fleet/displaytext.h"
#include "core/fleet/settingsrules.h"
#include "tools/corla-cli/cliformat.h"
#include "tools/corla-cli/session.h"

#include <QCommandLineParser>

namespace corla {

namespace {

const char* const Description =
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

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

// Whether the conflict is about one of these fields ("Gateway", "DNS Server", ...).
bool disputes(const Conflict& conflict, const QStringList& fields)
{
    for (const QString& difference : conflict.differences) {
        for (const QString& field : fields) {
            if (difference.startsWith(field + QLatin1Char(' ')))
                return true;
        }
    }
    return false;
}

QString parseSettings(const QCommandLineParser& parser, CliRequest* r)
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
        r->settings.setAddressMode(AddressModeDhcp);
        return QString();
    }
    for (const char* name : {"gateway", "dns"}) {
        if (parser.isSet(name) && parser.isSet(QStringLiteral("no-") + name))
            return QStringLiteral("--%1 and --no-%1 exclude each other").arg(name);
    }
    Ipv4Address ip, mask, prefixMask, gateway, dns;
    QString why = checkStaticText(parser.value("static"), "--static", &ip, &prefixMask);
    if (why.isEmpty() && !parser.isSet("mask") && prefixMask.toInt() == 0)
        return "--static needs --mask MASK, or a prefix length: --static IP/24";
    if (why.isEmpty() && parser.isSet("mask"))
        why = checkMaskText(parser.value("mask"), QStringLiteral("--mask"), &mask);
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
    r->settings = NetworkSettings(ip, mask, gateway, dns, MacAddress(), AddressModeStatic);
    r->keepGateway = !parser.isSet("gateway") && !parser.isSet("no-gateway");
    r->keepDns = !parser.isSet("dns") && !parser.isSet("no-dns");
    return QString();
}

} // namespace

SetCommand::SetCommand()
    : Command(
          {"set", "set MAC", "change a device's network settings (DHCP or static)",
           "set MAC (--dhcp | --static IP --mask MASK [--gateway IP | --no-gateway] "
           "[--dns IP | --no-dns])",
           "Change the network settings of the device with this MAC address.", Description},
          {QCommandLineOption("dhcp", "Switch the device to DHCP."),
           QCommandLineOption(
               "static", "Give the device this static address (IP or IP/prefix-length).", "ip"),
           QCommandLineOption("mask", "Subnet mask of the static address (or give --static IP/24).",
                              "mask"),
           QCommandLineOption("gateway",
                              "Gateway of the static address (default: the device's own).", "ip"),
           QCommandLineOption(
               "dns", "DNS server of the static address (default: the device's own).", "ip"),
           QCommandLineOption("no-gateway", "Clear the device's gateway (0.0.0.0)."),
           QCommandLineOption("no-dns", "Clear the device's DNS server (0.0.0.0)."),
           CliOption::force(), CliOption::wait()},
          {{CliExit::Ok, "the device reports the new settings"},
           {CliExit::Usage, "usage error: bad arguments, a malformed or refused address, mask or "
                            "MAC, or\nan unknown interface name"},
           {CliExit::NoAnswer, "no device with this MAC address answered, or the change was not "
                               "confirmed:\nno answer after 3 attempts, or the device reports "
                               "other settings"},
           {CliExit::Refused, "the device refused the new settings (its reason is printed on "
                              "stderr)"},
           {CliExit::AddressInUse,
            "a host already answers at the new static address (--force sends anyway)"},
           {CliExit::NoNetwork, "no usable local IPv4 address on the (named) interfaces"},
           {CliExit::Conflicting, "two senders answer differently for the device: nothing was "
                                  "sent (--force\nsends anyway)"}})
{}

QString SetCommand::parse(const QCommandLineParser& parser, const QStringList& positional,
                          CliRequest* r) const
{
    QString why = CliCheck::oneArgument(positional, "the device's MAC address");
    if (why.isEmpty())
        why = CliCheck::mac(positional.at(1), &r->mac);
    if (why.isEmpty())
        why = parseSettings(parser, r);
    r->force = parser.isSet("force");
    if (why.isEmpty())
        why = CliCheck::milliseconds(parser, "wait", &r->waitMs);
    return why;
}

NetworkSettings settingsForSet(const CliRequest& request, const NetworkSettings& reported)
{
    NetworkSettings requested = request.settings;
    if (request.keepGateway)
        requested.setGateway(reported.gateway());
    if (request.keepDns)
        requested.setDns(reported.dns());
    return settingsToSend(reported, requested);
}

int SetCommand::run(CliSession& session, const CliRequest& request) const
{
    session.useInterfaces(request);
    if (const int status = session.requireLocalAddress(request))
        return status;
    session.setTiming(request.waitMs);
    NetworkSettings settings = request.settings;
    settings.setMacAddress(request.mac);
    corla::ChangeOptions options;
    options.force = request.force;
    corla::ChangeOperation* change = session.service().change(nullptr, settings, options);
    change->setSettingsFrom(
        [&request](const corla::DeviceReport& report) -> std::optional<NetworkSettings> {
            // What set keeps comes from the device's own answer; when two senders disagree
            // about it, nobody knows which is the device's.
            QStringList kept;
            if (request.keepGateway)
                kept << QStringLiteral("Gateway");
            if (request.keepDns)
                kept << QStringLiteral("DNS Server");
            if (request.settings.addressMode() == AddressModeDhcp)
                kept << QStringLiteral("IP Address") << QStringLiteral("Subnet Mask")
                     << QStringLiteral("Gateway") << QStringLiteral("DNS Server");
            if (report.conflict && disputes(*report.conflict, kept))
                return std::nullopt;
            return settingsForSet(request, report.device->netHostInfo());
        });
    bool warned = false;
    QObject::connect(
        change, &corla::ChangeOperation::sent, change, [&](const corla::ChangeResult& progress) {
            if (warned || !progress.inUse.inUse())
                return;
            warned = true;
            session.err() << QStringLiteral("corla-cli: warning: a host answers at %1; "
                                            "sending anyway (--force)")
                                 .arg(text(progress.requested.ipAddress().toString()))
                          << Qt::endl;
        });
    const corla::ChangeResult result = runToEnd(change, &corla::ChangeOperation::finished);

    const QString mac = DisplayText::mac(request.mac);
    const QString name = result.device ? text(result.device->friendlyName()) : mac;
    switch (result.outcome) {
    case corla::ChangeOutcome::Changed:
    case corla::ChangeOutcome::ChangedAnswerLost:
        session.out() << QStringLiteral("%1 (%2) %3: %4")
                             .arg(name, mac, result.outcomeText(), settingsText(*result.reported))
                      << Qt::endl;
        return CliExit::Ok;
    case corla::ChangeOutcome::Refused:
        // The device's own words, as the window shows them.
        return session.fail(CliExit::Refused, DiscoveryClient::rejectionText(
                                                  *result.device, int16_t(result.refusal)));
    case corla::ChangeOutcome::NotFound:
        return session.fail(CliExit::NoAnswer,
                            QStringLiteral("no device with MAC address %1 answered within %2 ms")
                                .arg(mac)
                                .arg(request.waitMs));
    case corla::ChangeOutcome::InUse:
        return session.fail(CliExit::AddressInUse,
                            QStringLiteral("%1 is already in use: %2. "
                                           "Nothing was sent to %3; --force sends it anyway.")
                                .arg(DisplayText::address(result.requested.ipAddress()),
                                     corla::inUseText(result.inUse), name));
    case corla::ChangeOutcome::Conflicting:
        return session.fail(
            CliExit::Conflicting,
            QStringLiteral("%1 (%2): %3 Nothing was sent%4.")
                .arg(name, mac, result.conflict ? result.conflict->text() : QString(),
                     request.force ? QStringLiteral(": the settings it would keep are in "
                                                    "dispute; give them with --gateway or "
                                                    "--no-gateway and --dns or --no-dns")
                                   : QStringLiteral("; --force sends anyway")));
    case corla::ChangeOutcome::Unchanged:
        return session.fail(CliExit::NoAnswer,
                            QStringLiteral("%1 (%2) did not answer the change (%3 requests, %4 ms "
                                           "each) and still reports %5")
                                .arg(name, mac)
                                .arg(result.attempts)
                                .arg(request.waitMs)
                                .arg(settingsText(*result.reported)));
    case corla::ChangeOutcome::NotConfirmed:
        break;
    }
    return session.fail(CliExit::NoAnswer,
                        QStringLiteral("%1 (%2) %3").arg(name, mac, result.outcomeText()));
}

} // namespace corla
