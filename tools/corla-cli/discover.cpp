// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tools/corla-cli/discover.h"

#include "core/fleet/devicelist.h"
#include "core/fleet/displaytext.h"
#include "core/net/portprobescheduler.h"
#include "tools/corla-cli/cliformat.h"
#include "tools/corla-cli/session.h"

#include <QCommandLineParser>
#include <QSet>

#include <memory>

namespace corla {

namespace {

const char* const Description =
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

// Probes port 21 of each device as soon as it is listed, and again when a later answer
// changes its settings; a report for an address the device no longer has is dropped, since
// the probe of its new one follows.
class ListProbes
{
public:
    explicit ListProbes(DeviceList* list) : m_list(*list)
    {
        QObject::connect(&m_checker, &PortProbeScheduler::probeReason, &m_checker,
                         [this](const Device& device, DevicePort, Reachability status,
                                ProbeReason reason) { reported(device, status, reason); });
        const auto probeRow = [this](int row) { probe(*m_list.devices().at(row)); };
        QObject::connect(&m_list, &DeviceList::appended, &m_checker, probeRow);
        QObject::connect(&m_list, &DeviceList::settingsChanged, &m_checker, probeRow);
    }

    // Waits for every probe still running; each has its full time limit from its own start,
    // and those beyond the checker's in-flight limit wait their turn.
    CliReasons finish()
    {
        if (!m_pending.isEmpty()) {
            const int rounds = 1 + int(m_pending.size()) / qMax(1, m_checker.maxInFlight());
            EventWait wait(rounds * m_checker.connectionTimeout() + 1000);
            m_wait = &wait;
            wait.exec();
            m_wait = nullptr;
        }
        return m_reasons;
    }

private:
    void probe(const Device& device)
    {
        // Before the request: a device without an address is reported at once.
        m_pending.insert(DisplayText::mac(device.netHostInfo().macAddress()));
        m_checker.checkPort(device, DevicePort::Ftp);
    }

    void reported(const Device& device, Reachability status, ProbeReason reason)
    {
        const MacAddress& macAddr = device.netHostInfo().macAddress();
        const auto listed = m_list.find(macAddr);
        if (!listed || listed->netHostInfo().ipAddress() != device.netHostInfo().ipAddress())
            return;
        const QString mac = DisplayText::mac(macAddr);
        if (!m_pending.remove(mac))
            return;
        m_list.setStatus(macAddr, status);
        m_reasons.insert(mac, probeExplanation(m_checker, device, reason));
        if (m_pending.isEmpty() && m_wait)
            m_wait->finish();
    }

    DeviceList& m_list;
    PortProbeScheduler m_checker;
    QSet<QString> m_pending;
    CliReasons m_reasons;
    EventWait* m_wait = nullptr;
};

} // namespace

DiscoverCommand::DiscoverCommand()
    : Command({"discover", "discover", "list the devices that answer an enquiry", "discover",
               "List the devices that answer an enquiry.", Description},
              {CliOption::wait(),
               QCommandLineOption("settle",
                                  "Stop listening once no new device has answered for this many "
                                  "ms after the enquiry's latest copy (default: listen the whole "
                                  "--wait).",
                                  "ms"),
               QCommandLineOption("probe",
                                  "Try TCP port 21 of every device and show its reachability."),
               CliOption::format(),
               QCommandLineOption("max-devices",
                                  "List at most this many devices (default and most 65536).", "n")},
              {{CliExit::Ok, "at least one device answered"},
               {CliExit::Usage, "usage error: bad arguments or an unknown interface name"},
               {CliExit::NoAnswer, "no device answered within --wait (the empty list is printed; "
                                   "'corla-cli\ndoctor' tells what on this computer may be the "
                                   "cause)"},
               {CliExit::NoNetwork, "no usable local IPv4 address on the (named) interfaces"}})
{}

QString DiscoverCommand::parse(const QCommandLineParser& parser, const QStringList& positional,
                               CliRequest* r) const
{
    QString why = CliCheck::noArgument(positional);
    r->probe = parser.isSet("probe");
    if (why.isEmpty())
        why = CliCheck::format(parser, &r->format);
    if (why.isEmpty())
        why = CliCheck::milliseconds(parser, "wait", &r->waitMs);
    if (why.isEmpty())
        why = CliCheck::milliseconds(parser, "settle", &r->settleMs);
    if (why.isEmpty() && parser.isSet("max-devices")) {
        bool ok = false;
        const QString text = parser.value("max-devices");
        r->maxDevices = text.toInt(&ok);
        if (!ok || r->maxDevices < 1 || r->maxDevices > DeviceList::kDefaultCapacity)
            why = QStringLiteral("--max-devices must be a whole number from 1 to %1, not \"%2\"")
                      .arg(DeviceList::kDefaultCapacity)
                      .arg(text);
    }
    return why;
}

int DiscoverCommand::run(CliSession& session, const CliRequest& request) const
{
    session.useInterfaces(request);
    if (const int status = session.requireLocalAddress(request))
        return status;
    DeviceList list;
    list.setCapacity(request.maxDevices);
    std::unique_ptr<ListProbes> probes;
    if (request.probe)
        probes = std::make_unique<ListProbes>(&list);
    session.collect(&list, request.waitMs, request.settleMs);
    CliReasons reasons;
    if (probes)
        reasons = probes->finish();

    writeDevices(session.out(), list, request.format, request.probe, reasons);
    session.out().flush();
    if (list.size() == 0) {
        session.fail(CliExit::NoAnswer,
                     QStringLiteral("no device answered within %1 ms").arg(request.waitMs));
        return session.fail(CliExit::NoAnswer,
                            QStringLiteral("'corla-cli doctor' tells what on this computer can "
                                           "keep devices from being heard"));
    }
    return CliExit::Ok;
}

} // namespace corla
