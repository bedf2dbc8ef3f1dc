// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/net/portprobescheduler.h"
#include "core/net/descriptorlimit.h"
#include "core/net/logging.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QPointer>
#include <QTcpSocket>

#include <algorithm>

namespace corla {

namespace {

// How long fewer probes run after the system ran out of sockets.
constexpr int kShortageMs = 250;
constexpr int kMinInFlight = 8;
constexpr long long kDescriptorReserve = 64;

// Qt reports both unreachable cases as NetworkError and tells them apart only by the text
// of the failed connect(): EHOSTUNREACH (no ARP answer, or a router's ICMP message) as
// "Host unreachable", ENETUNREACH (no route here) as "Network unreachable"; its Windows
// engine uses the same texts. Comparing with Qt's own translation keeps this right in any
// language.
ProbeReason reasonFor(QAbstractSocket::SocketError error, const QString& text)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
    case QAbstractSocket::RemoteHostClosedError:
        return ProbeReason::Refused;
    case QAbstractSocket::SocketTimeoutError:
        return ProbeReason::NoAnswer;
    case QAbstractSocket::NetworkError:
        if (text == QCoreApplication::translate("QNativeSocketEngine", "Host unreachable"))
            return ProbeReason::HostUnreachable;
        if (text == QCoreApplication::translate("QNativeSocketEngine", "Network unreachable"))
            return ProbeReason::NoRoute;
        // "Connection timed out": the system stopped resending the request.
        return ProbeReason::NoAnswer;
    default:
        // Access denied (a local firewall), unsupported or unknown: this computer's stack
        // would not make the attempt, which is what the text for NoRoute says.
        return ProbeReason::NoRoute;
    }
}

Reachability networkStatusFor(ProbeReason reason)
{
    switch (reason) {
    case ProbeReason::Accepted:
        return Reachability::Reachable;
    case ProbeReason::NoAddress:
        return Reachability::NoIp;
    case ProbeReason::Waiting:
        return Reachability::Pending;
    default:
        return Reachability::Unreachable;
    }
}

} // namespace

struct PortProbeScheduler::Probe
{
    Key key;
    Device device;
    DevicePort port;
    std::weak_ptr<Attempt> attempt;
    bool cancelled = false;
};

// One connection to an address and port, for every device that claims that address: any
// host on the network can answer discovery in the name of thousands of made-up devices, all
// at one address, and each would otherwise cost that host a connection.
struct PortProbeScheduler::Attempt
{
    Target target;
    std::vector<ProbePtr> probes; // in the order they joined; cancelled ones stay
    int waiting = 0;              // of them not cancelled
    QTcpSocket* socket = nullptr; // while it runs
};

PortProbeScheduler::PortProbeScheduler(QObject* parent)
    : QObject(parent), m_maxInFlight(defaultMaxInFlight()), m_limit(m_maxInFlight)
{
    registerMetaTypes();
    static const int registered = qRegisterMetaType<ProbeReason>("ProbeReason");
    Q_UNUSED(registered)
    m_shortageOver.setSingleShot(true);
    connect(&m_shortageOver, &QTimer::timeout, this, [this] {
        m_limit = m_maxInFlight;
        pump();
    });
}

PortProbeScheduler::~PortProbeScheduler()
{
    // The sockets go with m_sockets before QObject's destructor cuts their connections;
    // none of their signals may reach this half-destroyed checker.
    for (QObject* socket : m_sockets.children()) {
        socket->disconnect(this);
        for (QObject* timer : socket->children())
            timer->disconnect(this);
    }
}

int PortProbeScheduler::defaultMaxInFlight()
{
    const long long limit = currentDescriptorLimit();
    if (limit < 0)
        return kMaxInFlightCeiling;
    return int(
        std::clamp<long long>(limit / 2 - kDescriptorReserve, kMinInFlight, kMaxInFlightCeiling));
}

void PortProbeScheduler::setMaxInFlight(int probes)
{
    m_maxInFlight = std::max(1, probes);
    m_limit = m_shortageOver.isActive() ? std::min(m_limit, m_maxInFlight) : m_maxInFlight;
    pump();
}

QString PortProbeScheduler::reasonText(ProbeReason reason) const
{
    return probeReasonText(reason, m_connectionTimeout);
}

bool PortProbeScheduler::idle() const
{
    return m_current.empty() && m_reporting.empty() && m_sockets.children().isEmpty();
}

void PortProbeScheduler::report(const Device& device, DevicePort port, ProbeReason reason)
{
    const Reachability netStatus = networkStatusFor(reason);
    const PortState connStatus =
        reason == ProbeReason::Accepted ? PortState::Available : PortState::Unavailable;
    // A receiver may run a nested event loop (a modal box) in which this checker goes.
    const QPointer<PortProbeScheduler> alive(this);
    emit netHostStatus(device, port, netStatus);
    if (alive)
        emit portStatus(device, port, connStatus);
    if (alive)
        emit probeReason(device, port, netStatus, reason);
}

void PortProbeScheduler::checkPort(const Device& device, DevicePort port)
{
    // Reports carry the base part of the record only: that is all a receiver needs to find
    // its row, and it stays valid whatever happens to the caller's record.
    const Device copy(device);
    const MacAddress& mac = copy.netHostInfo().macAddress();
    const uint32_t ip = copy.netHostInfo().ipAddress().toInt();
    // Without a MAC address there is no telling devices apart, so nothing is superseded.
    if (!mac.isNull())
        cancelDevice(mac, port, ip, false);
    if (ip == 0 || QHostAddress(ip).isNull()) {
        report(copy, port, ProbeReason::NoAddress);
        return;
    }
    if (!nonHostAddress(ip).isEmpty() && !(m_loopbackAllowed && (ip >> 24) == 127)) {
        report(copy, port, ProbeReason::NotProbed);
        return;
    }
    const Key key{mac.octets(), uint16_t(port), ip};
    if (m_current.count(key))
        return;
    auto probe = std::make_shared<Probe>();
    probe->key = key;
    probe->device = copy;
    probe->port = port;
    const Target target{ip, uint16_t(port)};
    AttemptPtr& attempt = m_joining[target];
    if (!attempt) {
        attempt = std::make_shared<Attempt>();
        attempt->target = target;
        m_queue.push_back(attempt);
    }
    attempt->probes.push_back(probe);
    ++attempt->waiting;
    probe->attempt = attempt;
    m_current.emplace(key, probe);
    pump();
}

void PortProbeScheduler::restartProbes()
{
    // Copies: cancelling edits the containers. Every running attempt ends with its last
    // device, so nothing is in flight afterwards.
    const auto current = m_current;
    for (const auto& entry : current)
        cancel(entry.second, true);
    const auto reporting = m_reporting;
    for (const auto& probe : reporting)
        cancel(probe, true);
    m_queue.clear();
    m_joining.clear();
    m_held.clear();
    pump();
}

void PortProbeScheduler::restartProbe(const Device& device, DevicePort port)
{
    cancelDevice(device.netHostInfo().macAddress(), port, 0, true);
}

void PortProbeScheduler::cancelDevice(const MacAddress& mac, DevicePort port, uint32_t keepIp,
                                      bool stale)
{
    std::vector<ProbePtr> dropped;
    const Key from{mac.octets(), uint16_t(port), 0};
    for (auto it = m_current.lower_bound(from);
         it != m_current.end() && std::get<0>(it->first) == mac.octets() &&
         std::get<1>(it->first) == uint16_t(port);
         ++it) {
        if (std::get<2>(it->first) != keepIp)
            dropped.push_back(it->second);
    }
    for (const auto& probe : m_reporting) {
        if (std::get<0>(probe->key) == mac.octets() && std::get<1>(probe->key) == uint16_t(port) &&
            std::get<2>(probe->key) != keepIp)
            dropped.push_back(probe);
    }
    for (const auto& probe : dropped)
        cancel(probe, stale);
    pump();
}

void PortProbeScheduler::cancel(const ProbePtr& probe, bool stale)
{
    if (probe->cancelled)
        return;
    probe->cancelled = true;
    m_reporting.erase(probe);
    const auto it = m_current.find(probe->key);
    if (it != m_current.end() && it->second == probe)
        m_current.erase(it);
    const AttemptPtr attempt = probe->attempt.lock();
    if (!attempt)
        return;
    --attempt->waiting;
    if (attempt->waiting <= 0 || (stale && attempt->socket)) {
        const auto joining = m_joining.find(attempt->target);
        if (joining != m_joining.end() && joining->second == attempt)
            m_joining.erase(joining);
    }
    // Called from the event loop or from a receiver of this checker, never from inside the
    // socket's own signal, so the socket may close here and now.
    if (attempt->waiting <= 0 && attempt->socket)
        release(attempt)->abort();
}

QTcpSocket* PortProbeScheduler::release(const AttemptPtr& attempt)
{
    QTcpSocket* socket = attempt->socket;
    attempt->socket = nullptr;
    socket->disconnect(this);
    socket->deleteLater();
    --m_inFlight;
    const auto running = m_running.find(attempt->target);
    if (running != m_running.end() && running->second == attempt)
        m_running.erase(running);
    const auto held = m_held.find(attempt->target);
    if (held != m_held.end()) {
        m_queue.push_front(held->second);
        m_held.erase(held);
    }
    return socket;
}

void PortProbeScheduler::pump()
{
    // A socket can fail inside connectToHost() and end its attempt there; the loop below
    // then sees what changed instead of starting over inside itself.
    if (m_pumping)
        return;
    m_pumping = true;
    while (m_inFlight < m_limit && !m_queue.empty()) {
        const AttemptPtr attempt = m_queue.front();
        m_queue.pop_front();
        if (attempt->waiting <= 0)
            continue;
        // One connection at a time to any address and port: this one starts when the
        // other, begun before some of its devices were restarted, has ended.
        if (m_running.count(attempt->target))
            m_held[attempt->target] = attempt;
        else
            start(attempt);
    }
    m_pumping = false;
}

void PortProbeScheduler::start(const AttemptPtr& attempt)
{
    ++m_inFlight;
    auto* socket = new QTcpSocket(&m_sockets);
    auto* timer = new QTimer(socket);
    attempt->socket = socket;
    m_running[attempt->target] = attempt;
    timer->setSingleShot(true);
    timer->setInterval(m_connectionTimeout);
    connect(socket, &QTcpSocket::connected, this, [this, attempt, socket] {
        if (attempt->socket == socket)
            finish(attempt, ProbeReason::Accepted, true);
    });
    connect(socket, &QAbstractSocket::errorOccurred, this,
            [this, attempt, socket](QAbstractSocket::SocketError error) {
                if (attempt->socket != socket)
                    return;
                if (error == QAbstractSocket::SocketResourceError)
                    requeueForLackOfSockets(attempt);
                else
                    finish(attempt, reasonFor(error, socket->errorString()), true);
            });
    connect(timer, &QTimer::timeout, this, [this, attempt, socket] {
        if (attempt->socket == socket)
            finish(attempt, ProbeReason::NoAnswer, false);
    });
    socket->connectToHost(QHostAddress(attempt->target.first), attempt->target.second,
                          QIODevice::ReadWrite);
    // It may have ended inside connectToHost() (no route, no socket to be had).
    if (attempt->socket == socket)
        timer->start();
}

void PortProbeScheduler::finish(const AttemptPtr& attempt, ProbeReason reason,
                                bool fromSocketSignal)
{
    QTcpSocket* socket = release(attempt);
    // Inside the socket's own signal Qt is still in its code: it is closed (by its
    // destructor) on the event loop's next pass instead.
    if (!fromSocketSignal)
        socket->abort();
    const auto joining = m_joining.find(attempt->target);
    if (joining != m_joining.end() && joining->second == attempt)
        m_joining.erase(joining);
    if (attempt->waiting > 1)
        qCDebug(logNet).nospace() << "Port probes: one connection to "
                                  << QHostAddress(attempt->target.first).toString() << ':'
                                  << attempt->target.second << " for " << attempt->waiting
                                  << " devices at that address";
    for (const ProbePtr& probe : attempt->probes) {
        if (probe->cancelled)
            continue;
        const auto it = m_current.find(probe->key);
        if (it != m_current.end() && it->second == probe)
            m_current.erase(it);
        m_reporting.insert(probe);
        // Never from inside the socket's or the timer's own signal: a nested event loop in
        // a receiver could delete them while Qt is still in their code. One report a pass,
        // as each device's own probe would give it.
        QMetaObject::invokeMethod(
            this,
            [this, probe, reason] {
                if (m_reporting.erase(probe) == 0 || probe->cancelled)
                    return;
                report(probe->device, probe->port, reason);
            },
            Qt::QueuedConnection);
    }
    pump();
}

void PortProbeScheduler::requeueForLackOfSockets(const AttemptPtr& attempt)
{
    release(attempt);
    m_queue.push_front(attempt);
    // What runs now evidently fits; more may start once the shortage is some time past.
    // Until then a probe starts only when a running one ends and frees its socket.
    if (!m_shortageOver.isActive())
        qCDebug(logNet).nospace() << "Port probes: out of sockets with " << m_inFlight
                                  << " in flight; the rest wait";
    m_limit = m_inFlight;
    m_shortageOver.start(kShortageMs);
}

QString probeReasonText(ProbeReason reason, int timeoutMs)
{
    switch (reason) {
    case ProbeReason::Accepted:
        return QStringLiteral("port 21 accepted a connection");
    case ProbeReason::Refused:
        return QStringLiteral("connection refused");
    case ProbeReason::NoAnswer:
        return QStringLiteral("no answer within %1 s").arg(timeoutMs / 1000.0);
    case ProbeReason::HostUnreachable:
        return QStringLiteral("host unreachable");
    case ProbeReason::NoRoute:
        return QStringLiteral("no route from this computer");
    case ProbeReason::NoAddress:
        return QStringLiteral("no IP address");
    case ProbeReason::Waiting:
        return QStringLiteral("waiting for a probe");
    case ProbeReason::NotProbed:
        return QStringLiteral("not probed: no unicast host address");
    }
    return QString();
}

QString nonHostAddress(uint32_t ip)
{
    if (ip == 0)
        return QString();
    if (ip == 0xffffffffu)
        return QStringLiteral("a broadcast address");
    if ((ip >> 24) == 0)
        return QStringLiteral("no host address");
    if ((ip >> 24) == 127)
        return QStringLiteral("a loopback address");
    if ((ip >> 28) == 0xe)
        return QStringLiteral("a multicast address");
    if ((ip >> 28) == 0xf)
        return QStringLiteral("a reserved address");
    return QString();
}

QString offNetworkNote(const Device& device)
{
    const uint32_t ip = device.netHostInfo().ipAddress().toInt();
    const QHostAddress local(device.commsIfaceAddr().toInt());
    if (ip == 0 || device.commsIfaceAddr().toInt() == 0)
        return QString();
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        const QList<QNetworkAddressEntry> entries = iface.addressEntries();
        const auto answered = std::find_if(entries.begin(), entries.end(),
                                           [&](const auto& e) { return e.ip() == local; });
        if (answered == entries.end() || answered->prefixLength() <= 0 ||
            answered->prefixLength() > 32)
            continue;
        // Any network of that interface will do: a device answers on each address of it.
        for (const QNetworkAddressEntry& entry : entries) {
            if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol || entry.prefixLength() < 0)
                continue;
            const uint32_t mask = entry.netmask().toIPv4Address();
            if ((ip & mask) == (entry.ip().toIPv4Address() & mask))
                return QString();
        }
        const uint32_t network = local.toIPv4Address() & answered->netmask().toIPv4Address();
        return QStringLiteral("it is not on this computer's network %1/%2, on which it "
                              "answered")
            .arg(QHostAddress(network).toString())
            .arg(answered->prefixLength());
    }
    return QString();
}

QString probeExplanation(const PortProbeScheduler& checker, const Device& device,
                         ProbeReason reason)
{
    const QString note = offNetworkNote(device);
    const uint32_t ip = device.netHostInfo().ipAddress().toInt();
    const QString kind = reason == ProbeReason::NotProbed ? nonHostAddress(ip) : QString();
    const QString text =
        kind.isEmpty()
            ? checker.reasonText(reason)
            : QStringLiteral("not probed: %1 is %2").arg(QHostAddress(ip).toString(), kind);
    return note.isEmpty() ? text : text + QStringLiteral("; ") + note;
}

} // namespace corla
