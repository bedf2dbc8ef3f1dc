#include "zelconnectionchecker.h"
#include "corlalog.h"
#include "descriptorlimit.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QPointer>
#include <QTcpSocket>

#include <algorithm>

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
ZelProbeReason reasonFor(QAbstractSocket::SocketError error, const QString& text)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
    case QAbstractSocket::RemoteHostClosedError:
        return ZelProbeReason::Refused;
    case QAbstractSocket::SocketTimeoutError:
        return ZelProbeReason::NoAnswer;
    case QAbstractSocket::NetworkError:
        if (text == QCoreApplication::translate("QNativeSocketEngine", "Host unreachable"))
            return ZelProbeReason::HostUnreachable;
        if (text == QCoreApplication::translate("QNativeSocketEngine", "Network unreachable"))
            return ZelProbeReason::NoRoute;
        // "Connection timed out": the system stopped resending the request.
        return ZelProbeReason::NoAnswer;
    default:
        // Access denied (a local firewall), unsupported or unknown: this computer's stack
        // would not make the attempt, which is what the text for NoRoute says.
        return ZelProbeReason::NoRoute;
    }
}

ZelNetworkStatus networkStatusFor(ZelProbeReason reason)
{
    switch (reason) {
    case ZelProbeReason::Accepted:
        return ZelNetworkStatus::Reachable;
    case ZelProbeReason::NoAddress:
        return ZelNetworkStatus::NoIp;
    case ZelProbeReason::Waiting:
        return ZelNetworkStatus::Pending;
    default:
        return ZelNetworkStatus::Unreachable;
    }
}

} // namespace

struct ZelConnectionChecker::Probe
{
    Key key;
    TevDevice device;
    ZelPort port;
    QTcpSocket* socket = nullptr; // while it runs
    bool cancelled = false;
};

ZelConnectionChecker::ZelConnectionChecker(QObject* parent)
    : QObject(parent), m_maxInFlight(defaultMaxInFlight()), m_limit(m_maxInFlight)
{
    registerCorlaMetaTypes();
    static const int registered = qRegisterMetaType<ZelProbeReason>("ZelProbeReason");
    Q_UNUSED(registered)
    m_shortageOver.setSingleShot(true);
    connect(&m_shortageOver, &QTimer::timeout, this, [this] {
        m_limit = m_maxInFlight;
        pump();
    });
}

ZelConnectionChecker::~ZelConnectionChecker()
{
    // The sockets go with m_sockets before QObject's destructor cuts their connections;
    // none of their signals may reach this half-destroyed checker.
    for (QObject* socket : m_sockets.children()) {
        socket->disconnect(this);
        for (QObject* timer : socket->children())
            timer->disconnect(this);
    }
}

int ZelConnectionChecker::defaultMaxInFlight()
{
    const long long limit = corlaDescriptorLimit();
    if (limit < 0)
        return kMaxInFlightCeiling;
    return int(
        std::clamp<long long>(limit / 2 - kDescriptorReserve, kMinInFlight, kMaxInFlightCeiling));
}

void ZelConnectionChecker::setMaxInFlight(int probes)
{
    m_maxInFlight = std::max(1, probes);
    m_limit = m_shortageOver.isActive() ? std::min(m_limit, m_maxInFlight) : m_maxInFlight;
    pump();
}

QString ZelConnectionChecker::reasonText(ZelProbeReason reason) const
{
    return zelProbeReasonText(reason, m_connectionTimeout);
}

void ZelConnectionChecker::report(const TevDevice& device, ZelPort port, ZelProbeReason reason)
{
    const ZelNetworkStatus netStatus = networkStatusFor(reason);
    const ZelPortConnStatus connStatus = reason == ZelProbeReason::Accepted
                                             ? ZelPortConnStatus::Available
                                             : ZelPortConnStatus::Unavailable;
    // A receiver may run a nested event loop (a modal box) in which this checker goes.
    const QPointer<ZelConnectionChecker> alive(this);
    emit netHostStatus(device, port, netStatus);
    if (alive)
        emit portStatus(device, port, connStatus);
    if (alive)
        emit probeReason(device, port, netStatus, reason);
}

void ZelConnectionChecker::checkPort(const TevDevice& device, ZelPort port)
{
    // Reports carry the base part of the record only: that is all a receiver needs to find
    // its row, and it stays valid whatever happens to the caller's record.
    const TevDevice copy(device);
    const TevMacAddr& mac = copy.netHostInfo().macAddress();
    const uint32_t ip = copy.netHostInfo().ipAddress().toInt();
    // Without a MAC address there is no telling devices apart, so nothing is superseded.
    if (!mac.isNull())
        cancelDevice(mac, port, ip);
    if (ip == 0 || QHostAddress(ip).isNull()) {
        report(copy, port, ZelProbeReason::NoAddress);
        return;
    }
    const Key key{mac.octets(), uint16_t(port), ip};
    if (m_current.count(key))
        return;
    auto probe = std::make_shared<Probe>();
    probe->key = key;
    probe->device = copy;
    probe->port = port;
    m_current.emplace(key, probe);
    m_queue.push_back(probe);
    pump();
}

void ZelConnectionChecker::restartProbes()
{
    // Copies: cancelling edits the containers.
    const auto current = m_current;
    for (const auto& entry : current)
        cancel(entry.second);
    const auto reporting = m_reporting;
    for (const auto& probe : reporting)
        cancel(probe);
    m_queue.clear();
    pump();
}

void ZelConnectionChecker::restartProbe(const TevDevice& device, ZelPort port)
{
    cancelDevice(device.netHostInfo().macAddress(), port, 0);
}

void ZelConnectionChecker::cancelDevice(const TevMacAddr& mac, ZelPort port, uint32_t keepIp)
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
        cancel(probe);
    pump();
}

void ZelConnectionChecker::cancel(const ProbePtr& probe)
{
    probe->cancelled = true;
    m_reporting.erase(probe);
    const auto it = m_current.find(probe->key);
    if (it != m_current.end() && it->second == probe)
        m_current.erase(it);
    // Called from the event loop or from a receiver of this checker, never from inside the
    // socket's own signal, so the socket may close here and now.
    if (probe->socket)
        release(probe)->abort();
}

QTcpSocket* ZelConnectionChecker::release(const ProbePtr& probe)
{
    QTcpSocket* socket = probe->socket;
    probe->socket = nullptr;
    socket->disconnect(this);
    socket->deleteLater();
    --m_inFlight;
    return socket;
}

void ZelConnectionChecker::pump()
{
    // A socket can fail inside connectToHost() and end its probe there; the loop below
    // then sees what changed instead of starting over inside itself.
    if (m_pumping)
        return;
    m_pumping = true;
    while (m_inFlight < m_limit && !m_queue.empty()) {
        const ProbePtr probe = m_queue.front();
        m_queue.pop_front();
        if (!probe->cancelled)
            start(probe);
    }
    m_pumping = false;
}

void ZelConnectionChecker::start(const ProbePtr& probe)
{
    ++m_inFlight;
    auto* socket = new QTcpSocket(&m_sockets);
    auto* timer = new QTimer(socket);
    probe->socket = socket;
    timer->setSingleShot(true);
    timer->setInterval(m_connectionTimeout);
    connect(socket, &QTcpSocket::connected, this, [this, probe, socket] {
        if (probe->socket == socket)
            finish(probe, ZelProbeReason::Accepted, true);
    });
    connect(socket, &QAbstractSocket::errorOccurred, this,
            [this, probe, socket](QAbstractSocket::SocketError error) {
                if (probe->socket != socket)
                    return;
                if (error == QAbstractSocket::SocketResourceError)
                    requeueForLackOfSockets(probe);
                else
                    finish(probe, reasonFor(error, socket->errorString()), true);
            });
    connect(timer, &QTimer::timeout, this, [this, probe, socket] {
        if (probe->socket == socket)
            finish(probe, ZelProbeReason::NoAnswer, false);
    });
    const uint32_t ip = std::get<2>(probe->key);
    socket->connectToHost(QHostAddress(ip), static_cast<quint16>(probe->port),
                          QIODevice::ReadWrite);
    // It may have ended inside connectToHost() (no route, no socket to be had).
    if (probe->socket == socket)
        timer->start();
}

void ZelConnectionChecker::finish(const ProbePtr& probe, ZelProbeReason reason,
                                  bool fromSocketSignal)
{
    QTcpSocket* socket = release(probe);
    // Inside the socket's own signal Qt is still in its code: it is closed (by its
    // destructor) on the event loop's next pass instead.
    if (!fromSocketSignal)
        socket->abort();
    const auto it = m_current.find(probe->key);
    if (it != m_current.end() && it->second == probe)
        m_current.erase(it);
    m_reporting.insert(probe);
    // Never from inside the socket's or the timer's own signal: a nested event loop in a
    // receiver could delete them while Qt is still in their code.
    QMetaObject::invokeMethod(
        this,
        [this, probe, reason] {
            if (m_reporting.erase(probe) == 0 || probe->cancelled)
                return;
            report(probe->device, probe->port, reason);
        },
        Qt::QueuedConnection);
    pump();
}

void ZelConnectionChecker::requeueForLackOfSockets(const ProbePtr& probe)
{
    release(probe);
    m_queue.push_front(probe);
    // What runs now evidently fits; more may start once the shortage is some time past.
    // Until then a probe starts only when a running one ends and frees its socket.
    if (!m_shortageOver.isActive())
        qCDebug(corlaNet).nospace()
            << "Port probes: out of sockets with " << m_inFlight << " in flight; the rest wait";
    m_limit = m_inFlight;
    m_shortageOver.start(kShortageMs);
}

QString zelProbeReasonText(ZelProbeReason reason, int timeoutMs)
{
    switch (reason) {
    case ZelProbeReason::Accepted:
        return QStringLiteral("port 21 accepted a connection");
    case ZelProbeReason::Refused:
        return QStringLiteral("connection refused");
    case ZelProbeReason::NoAnswer:
        return QStringLiteral("no answer within %1 s").arg(timeoutMs / 1000.0);
    case ZelProbeReason::HostUnreachable:
        return QStringLiteral("host unreachable");
    case ZelProbeReason::NoRoute:
        return QStringLiteral("no route from this computer");
    case ZelProbeReason::NoAddress:
        return QStringLiteral("no IP address");
    case ZelProbeReason::Waiting:
        return QStringLiteral("waiting for a probe");
    }
    return QString();
}

QString zelOffNetworkNote(const TevDevice& device)
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
                              "answered; Configure can give it an address there")
            .arg(QHostAddress(network).toString())
            .arg(answered->prefixLength());
    }
    return QString();
}

QString zelProbeExplanation(const ZelConnectionChecker& checker, const TevDevice& device,
                            ZelProbeReason reason)
{
    const QString note = zelOffNetworkNote(device);
    const QString text = checker.reasonText(reason);
    return note.isEmpty() ? text : text + QStringLiteral("; ") + note;
}
