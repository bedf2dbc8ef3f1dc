// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Does a TCP port of a device accept a connection within a time limit?

#include "core/net/device.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <tuple>

class QTcpSocket;

namespace corla {

// Why a probe ended as it did.
enum class ProbeReason : int32_t
{
    Accepted = 0,        // the port accepted a connection
    Refused = 1,         // the device's TCP refused (reset), or closed before accepting
    NoAnswer = 2,        // nothing within the time limit, or the system gave up waiting
    HostUnreachable = 3, // nobody answered ARP for it, or a router reported it unreachable
    NoRoute = 4,         // this computer has no route there, or its own stack refused to send
    NoAddress = 5,       // the device has no IP address
    Waiting = 6,         // no verdict yet; never emitted, for rows whose probe is still out
    NotProbed = 7,       // its address is no unicast host (loopback, multicast, broadcast, ...)
};

class PortProbeScheduler : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultTimeoutMs = 4000;
    // Probes in flight at most, whatever the descriptor limit allows.
    static constexpr int kMaxInFlightCeiling = 256;

    explicit PortProbeScheduler(QObject* parent = nullptr);
    ~PortProbeScheduler() override;

    // A probe's time limit in ms. It counts from the probe's own start, not from when it was
    // asked for; a change applies to probes that start afterwards.
    int connectionTimeout() const { return m_connectionTimeout; }
    void setConnectionTimeout(const int& ms) { m_connectionTimeout = ms; }

    // Every probe holds a socket while it runs. Half the soft descriptor limit minus 64 is
    // left to them: the other half covers the sockets of finished probes, which close on
    // the event loop's next pass, and the 64 everything else the program opens. At least
    // 8, at most kMaxInFlightCeiling (also where there is no limit).
    static int defaultMaxInFlight();
    int maxInFlight() const { return m_maxInFlight; }
    void setMaxInFlight(int probes);

    // Asks for one probe and returns at once; the rest wait their turn, first come first
    // served. A device without an address, or at one that is no unicast host (see
    // nonHostAddress), is reported before this returns, every other outcome from the
    // event loop afterwards. Devices at the same address and port share one connection
    // attempt: the first one's; the others wait for it and get its verdict. Each probe reports
    // once, through netHostStatus, then portStatus, then probeReason: the first of connection,
    // error and time limit decides, and the attempt ends there. A probe of the same MAC, address
    // and port that is still waiting or running takes the place of this one. Asking for a device at
    // another address drops its probes at the old one: a device's verdict comes from its latest
    // probe. Running out of sockets is never a verdict: the probe waits for its turn again, at the
    // head of the queue. Probes still out when the checker is destroyed report nothing.
    void checkPort(const Device& device, DevicePort port);

    // Forgets every probe asked for so far: none of them reports any more, and probes asked
    // for afterwards start afresh instead of joining them. For a refresh of the whole list.
    void restartProbes();
    // The same for one device's port (by MAC address), at whatever address it was probed:
    // after a change of its settings or a reset. Starts nothing by itself.
    void restartProbe(const Device& device, DevicePort port);

    // Loopback addresses are never probed unless allowed here: a device that claims one
    // would have the probe connect to this computer. For tests on loopback.
    bool loopbackAllowed() const { return m_loopbackAllowed; }
    void setLoopbackAllowed(bool allowed) { m_loopbackAllowed = allowed; }

    // probeReasonText with this checker's time limit.
    QString reasonText(ProbeReason reason) const;

    // True when no probe waits, runs or has a report still to deliver, and the sockets of
    // ended probes are gone: nothing more is reported until the next checkPort().
    bool idle() const;

signals:
    void netHostStatus(const Device& device, DevicePort port, Reachability status);
    void portStatus(const Device& device, DevicePort port, PortState status);
    void probeReason(const Device& device, DevicePort port, Reachability status,
                     ProbeReason reason);

private:
    // One device's probe, and the connection attempt (to its address and port) it waits on.
    struct Probe;
    struct Attempt;
    using ProbePtr = std::shared_ptr<Probe>;
    using AttemptPtr = std::shared_ptr<Attempt>;
    // MAC first, then port, so that one device's probes at every address sit together.
    using Key = std::tuple<std::array<uint8_t, 6>, uint16_t, uint32_t>;
    // Address, then port.
    using Target = std::pair<uint32_t, uint16_t>;

    void pump();
    void start(const AttemptPtr& attempt);
    void finish(const AttemptPtr& attempt, ProbeReason reason, bool fromSocketSignal);
    void requeueForLackOfSockets(const AttemptPtr& attempt);
    // Drops one device's probe; its attempt ends with the last device waiting on it. With
    // `stale`, a running attempt takes no further devices: its verdict may predate them.
    void cancel(const ProbePtr& probe, bool stale);
    // Takes an ended attempt's socket away: none of its signals reach the checker any more,
    // and it goes on the event loop's next pass. An attempt held back for the same target
    // may start.
    QTcpSocket* release(const AttemptPtr& attempt);
    void cancelDevice(const MacAddress& mac, DevicePort port, uint32_t keepIp, bool stale);
    void report(const Device& device, DevicePort port, ProbeReason reason);

    int m_connectionTimeout = kDefaultTimeoutMs;
    int m_maxInFlight;
    int m_limit; // m_maxInFlight, or fewer for a while after sockets ran out
    int m_inFlight = 0;
    bool m_pumping = false;
    bool m_loopbackAllowed = false;
    std::deque<AttemptPtr> m_queue;         // waiting their turn; those nobody waits on are skipped
    std::map<Key, ProbePtr> m_current;      // waiting or running, and not forgotten
    std::set<ProbePtr> m_reporting;         // finished, their report not yet delivered
    std::map<Target, AttemptPtr> m_joining; // the attempt that a new probe of a target joins
    std::map<Target, AttemptPtr> m_running; // at most one in flight per target
    std::map<Target, AttemptPtr> m_held;    // came to its turn while its target was in flight
    QTimer m_shortageOver;                  // restores m_limit after sockets ran out
    QObject m_sockets;                      // the sockets (and their timers) of running probes
};

// "port 21 accepted a connection", "connection refused", "no answer within 4 s", "host
// unreachable", "no route from this computer", "no IP address", "waiting for a probe",
// "not probed: no unicast host address";
// the time follows `timeoutMs`.
QString probeReasonText(ProbeReason reason, int timeoutMs = PortProbeScheduler::kDefaultTimeoutMs);

// Where the device's address lies outside the network of this computer's address that it
// answered on (that interface entry's address and mask): says so and names that network;
// each front end adds how its user gives the device an address there. Empty when it lies
// inside, or when that network is not known here.
QString offNetworkNote(const Device& device);

// What makes an address no unicast host, so that it is never probed: "a loopback address"
// (127.0.0.0/8), "a multicast address" (224.0.0.0/4), "a broadcast address"
// (255.255.255.255), "a reserved address" (the rest of 240.0.0.0/4) or "no host address"
// (0.0.0.0/8). Empty for any other address, and for 0.0.0.0 (no address at all).
QString nonHostAddress(uint32_t ip);

// The reason, and the off-network note where there is one: what a row's colour means.
// NotProbed names the address: "not probed: 127.0.0.1 is a loopback address".
QString probeExplanation(const PortProbeScheduler& checker, const Device& device,
                         ProbeReason reason);

} // namespace corla

Q_DECLARE_METATYPE(corla::ProbeReason)
