// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tools/corla-sim/simserver.h"

#include "core/wire/codec.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QUdpSocket>

#include <cstdio>

namespace corla {

namespace {

// The pacer's tick; the bucket holds at most this long a run of answers, so a receiver
// that drains its socket at every tick never sees more than that many at once.
constexpr int PaceTickMs = 5;
// Unpaced, one pass sends at most this many datagrams.
constexpr int UnpacedPass = 4096;

QByteArray macKey(const MacAddress& mac)
{
    return QByteArray(reinterpret_cast<const char*>(mac.octets().data()), 6);
}

QString text(Ipv4Address ip)
{
    return QString::fromStdString(ip.toString());
}

QString text(const MacAddress& mac)
{
    return QString::fromStdString(mac.toString());
}

} // namespace

SimServer::SimServer(const SimOptions& options, const SimFleet& fleet, SimAddresses* addresses,
                     QObject* parent)
    : QObject(parent), m_options(options), m_fleet(fleet), m_runtime(fleet.size()),
      m_addresses(addresses), m_services([this](int index) { return &m_fleet.at(index); }, this)
{
    m_clock.start();
    m_pacer.setTimerType(Qt::PreciseTimer);
    m_pacer.setInterval(PaceTickMs);
    connect(&m_pacer, &QTimer::timeout, this, &SimServer::pace);
    for (int i = 0; i < m_fleet.size(); ++i)
        m_byMac.insert(macKey(m_fleet.at(i).net.macAddress()), i);
}

SimServer::~SimServer() = default;

bool SimServer::start(QString* why, QStringList* warnings)
{
    m_socket = new QUdpSocket(this);
    // Several simulators may share the discovery port; each hears every broadcast.
    if (!m_socket->bind(QHostAddress::AnyIPv4, m_options.port,
                        QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        *why = QStringLiteral("cannot bind UDP port %1: %2")
                   .arg(m_options.port)
                   .arg(m_socket->errorString());
        return false;
    }
    connect(m_socket, &QUdpSocket::readyRead, this, &SimServer::readPending);
    if (m_options.rogueSender) {
        // The devices' own address but another port: to a receiver, another sender.
        m_rogue = new QUdpSocket(this);
        if (!m_rogue->bind(QHostAddress(QHostAddress::AnyIPv4))) {
            *why = QStringLiteral("cannot bind the rogue sender's UDP socket: %1")
                       .arg(m_rogue->errorString());
            return false;
        }
    }
    if (m_options.forge.isActive()) {
        m_forger = new QUdpSocket(this);
        if (!m_forger->bind(QHostAddress(QHostAddress::AnyIPv4))) {
            *why = QStringLiteral("cannot bind the forger's UDP socket: %1")
                       .arg(m_forger->errorString());
            return false;
        }
        startForgers(warnings);
    }

    QSet<QString> missing;
    for (const SimDevice& d : qAsConst(m_fleet)) {
        if (d.iface.isEmpty() || m_ifaceIndex.contains(d.iface) || missing.contains(d.iface))
            continue;
        const int index = QNetworkInterface::interfaceIndexFromName(d.iface);
        if (index > 0) {
            m_ifaceIndex.insert(d.iface, index);
        } else {
            missing.insert(d.iface);
            warnings->append(QStringLiteral("no interface %1 here: its devices answer on every "
                                            "interface")
                                 .arg(d.iface));
        }
    }

    bool burst = false;
    for (int i = 0; i < m_fleet.size(); ++i) {
        const SimDevice& d = m_fleet.at(i);
        burst = burst || d.burst;
        QString problem;
        if (!d.burst && !m_addresses->acquire(d.net.ipAddress(), d.iface, &problem))
            warnings->append(problem);
        if (m_options.tcp && !d.burst)
            m_services.open(i, warnings);
    }
    QString problem;
    if (burst && m_options.tcp && !m_services.openWildcardFtp(&problem))
        warnings->append(problem);
    return true;
}

// On each device-side subnet the forger takes the third address from the top (x.y.z.253 in
// a /24) and the discovery port, so that its answers differ from the devices' (x.y.z.254)
// in the source address alone. Without --manage-addresses it has only its own port.
void SimServer::startForgers(QStringList* warnings)
{
    if (!m_addresses->isEnabled())
        return;
    QSet<uint32_t> taken;
    for (const SimDevice& d : qAsConst(m_fleet))
        taken.insert(d.net.ipAddress().toInt());
    for (const QNetworkInterface& nic : QNetworkInterface::allInterfaces()) {
        if ((nic.flags() & QNetworkInterface::IsLoopBack) ||
            !(nic.flags() & QNetworkInterface::IsUp))
            continue;
        for (const QNetworkAddressEntry& entry : nic.addressEntries()) {
            const int prefix = entry.prefixLength();
            if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol || prefix < 1 || prefix > 29)
                continue;
            const quint32 own = entry.ip().toIPv4Address();
            const quint32 hostMask = 0xFFFFFFFFu >> prefix;
            const quint32 address = (own | hostMask) - 2;
            const QHostAddress subnet(own & ~hostMask);
            bool known = address == own || taken.contains(address);
            for (const Forger& f : qAsConst(m_forgers))
                known = known || (f.subnet == subnet && f.prefixLength == prefix);
            if (known)
                continue;
            QString problem;
            if (!m_addresses->acquire(Ipv4Address(address), nic.name(), &problem)) {
                warnings->append(problem);
                continue;
            }
            taken.insert(address);
            auto* socket = new QUdpSocket(this);
            if (!socket->bind(QHostAddress(address), m_options.port,
                              QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
                warnings->append(QStringLiteral("the forger cannot bind %1:%2: %3")
                                     .arg(QHostAddress(address).toString())
                                     .arg(m_options.port)
                                     .arg(socket->errorString()));
                delete socket;
                continue;
            }
            // Nothing is meant for it; what comes anyway is dropped.
            connect(socket, &QUdpSocket::readyRead, socket, [socket] {
                while (socket->hasPendingDatagrams())
                    socket->receiveDatagram(0);
            });
            m_forgers.append({subnet, prefix, socket});
        }
    }
}

QUdpSocket* SimServer::forgerFor(const QHostAddress& to) const
{
    for (const Forger& f : m_forgers) {
        if (to.isInSubnet(f.subnet, f.prefixLength))
            return f.socket;
    }
    return m_forger;
}

QList<QByteArray> SimServer::forge(const SimRequest& request, int ifaceIndex) const
{
    const SimForge& forge = m_options.forge;
    int i = -1;
    if (request.code != MessageCode::NetworkEnquiry) {
        i = m_byMac.value(macKey(request.mac), -1);
    } else if (!forge.enquiryMac.isNull() &&
               (request.mac.isNull() || request.mac == forge.enquiryMac)) {
        i = m_byMac.value(macKey(forge.enquiryMac), -1);
        if (i >= 0 && !hears(i, ifaceIndex))
            i = -1;
    }
    return forgedAnswers(forge, request, i >= 0 ? &m_fleet.at(i) : nullptr);
}

void SimServer::readPending()
{
    while (m_socket->hasPendingDatagrams())
        handle(m_socket->receiveDatagram());
}

void SimServer::handle(const QNetworkDatagram& datagram)
{
    const QByteArray data = datagram.data();
    const QString from = QStringLiteral("%1:%2").arg(
        QHostAddress(datagram.senderAddress().toIPv4Address()).toString(),
        QString::number(datagram.senderPort()));
    FrameParts frame;
    if (!splitFrame(reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size()),
                    &frame)) {
        log(QStringLiteral("ignored %1 bytes from %2: not one frame").arg(data.size()).arg(from));
        return;
    }
    if (!frame.crcMatches) {
        log(QStringLiteral("ignored a frame from %1: bad CRC").arg(from));
        return;
    }
    SimRequest request;
    QString why;
    if (!decodeRequest(frame.code, frame.payload, &request, &why)) {
        log(QStringLiteral("ignored a request from %1: %2").arg(from, why));
        return;
    }
    // Made before the devices act on the request: what the forger says of a device is what
    // it was before.
    const QList<QByteArray> forged = m_options.forge.isActive()
                                         ? forge(request, datagram.interfaceIndex())
                                         : QList<QByteArray>();
    QList<QByteArray> answers;
    QString outcome;
    const char* kind = "";
    switch (request.code) {
    case MessageCode::NetworkEnquiry:
        kind = "enquiry";
        outcome = enquire(request, datagram.interfaceIndex(), &answers);
        break;
    case MessageCode::ChangeNetwork:
        kind = "change";
        outcome = change(request, datagram.interfaceIndex(), &answers);
        break;
    case MessageCode::ResetDevice:
        kind = "reset";
        outcome = reset(request, datagram.interfaceIndex(), &answers);
        break;
    }
    // Answers go where the request came from, at the port the request names.
    const quint16 port = request.responsePort ? request.responsePort : datagram.senderPort();
    const QHostAddress to(datagram.senderAddress().toIPv4Address());
    log(QStringLiteral("%1 from %2 port %3 for %4: %5")
            .arg(kind, from, QString::number(port), text(request.mac), outcome));
    // The rogue sender speaks up at every enquiry, also one that no device answers.
    const bool rogue = m_rogue && request.code == MessageCode::NetworkEnquiry && !m_fleet.isEmpty();
    const int invented = request.code == MessageCode::NetworkEnquiry ? m_options.forge.macs : 0;
    if (answers.isEmpty() && !rogue && forged.isEmpty() && invented == 0)
        return;
    if (m_options.delayMs > 0)
        QTimer::singleShot(m_options.delayMs, this,
                           [this, answers, to, port, rogue, forged, invented] {
                               send(answers, to, port, rogue, forged, invented);
                           });
    else
        send(answers, to, port, rogue, forged, invented);
}

QString SimServer::enquire(const SimRequest& request, int ifaceIndex, QList<QByteArray>* answers)
{
    const bool everyone = request.mac.isNull();
    for (int i = 0; i < m_fleet.size(); ++i) {
        if ((everyone || m_fleet.at(i).net.macAddress() == request.mac) && hears(i, ifaceIndex) &&
            !isSilent(i))
            answers->append(enquiryAnswer(m_fleet.at(i), m_options.faults.shortAnswers));
    }
    return QStringLiteral("%1 answers").arg(answers->size());
}

QString SimServer::change(const SimRequest& request, int ifaceIndex, QList<QByteArray>* answers)
{
    int i = -1;
    const QString absent = findListening(request.mac, ifaceIndex, &i);
    if (i < 0)
        return absent;
    const Refusal error = judgeChange(m_fleet.at(i), request.requested);
    if (error != Refusal::None) {
        answers->append(changeAnswer(m_fleet.at(i), error));
        return QStringLiteral("refused with %1").arg(int(error));
    }
    applySettings(i, request.requested);
    const SimDevice& d = m_fleet.at(i);
    answers->append(changeAnswer(d, Refusal::None));
    return QStringLiteral("accepted, now %1 %2")
        .arg(addressModeName(d.net.addressMode()), text(d.net.ipAddress()));
}

QString SimServer::reset(const SimRequest& request, int ifaceIndex, QList<QByteArray>* answers)
{
    int i = -1;
    const QString absent = findListening(request.mac, ifaceIndex, &i);
    if (i < 0)
        return absent;
    answers->append(resetAnswer(request.mac));
    const int silence =
        m_fleet.at(i).resetSilenceMs >= 0 ? m_fleet.at(i).resetSilenceMs : m_options.resetSilenceMs;
    Runtime& rt = m_runtime[i];
    rt.silentUntil = m_clock.elapsed() + silence;
    const int generation = ++rt.generation;
    // A resetting device drops its connections and services until it is back.
    m_services.close(i);
    QTimer::singleShot(silence, this, [this, i, generation] {
        if (m_runtime.at(i).generation == generation)
            openServices(i);
    });
    return QStringLiteral("resetting, silent for %1 ms").arg(silence);
}

void SimServer::applySettings(int index, const NetworkSettings& requested)
{
    SimDevice& d = m_fleet[index];
    const NetworkSettings before = d.net;
    if (requested.addressMode() == AddressModeDhcp) {
        const Ipv4Address lease = leaseFor(index);
        const uint32_t router = (lease.toInt() & 0xFFFFFF00u) | 254u;
        d.net = NetworkSettings(lease, lease.toInt() ? 0xFFFFFF00u : 0u, lease.toInt() ? router : 0,
                                lease.toInt() ? router : 0, before.macAddress(), AddressModeDhcp);
    } else {
        d.net = NetworkSettings(requested.ipAddress(), requested.subnetMask(), requested.gateway(),
                                requested.dns(), before.macAddress(), requested.addressMode());
    }
    ++m_runtime[index].generation;
    moveAddress(index, before);
}

Ipv4Address SimServer::leaseFor(int index) const
{
    const SimDevice& d = m_fleet.at(index);
    // A device that already holds a lease keeps it.
    if (d.net.addressMode() == AddressModeDhcp && d.net.ipAddress().toInt() != 0)
        return d.net.ipAddress();
    for (uint32_t ip = m_options.dhcpFirst.toInt(); ip <= m_options.dhcpLast.toInt(); ++ip) {
        bool taken = false;
        for (const SimDevice& other : qAsConst(m_fleet))
            taken = taken || other.net.ipAddress().toInt() == ip;
        if (!taken)
            return Ipv4Address(ip);
        if (ip == 0xFFFFFFFFu)
            break;
    }
    return Ipv4Address(); // the pool is exhausted: no lease, as a real server would leave it
}

void SimServer::moveAddress(int index, const NetworkSettings& from)
{
    const SimDevice& d = m_fleet.at(index);
    if (d.burst || from.ipAddress() == d.net.ipAddress())
        return;
    m_services.close(index);
    m_addresses->release(from.ipAddress());
    QString problem;
    if (!m_addresses->acquire(d.net.ipAddress(), d.iface, &problem))
        log(problem);
    openServices(index);
}

void SimServer::openServices(int index)
{
    if (!m_options.tcp || m_fleet.at(index).burst)
        return;
    QStringList problems;
    m_services.open(index, &problems);
    for (const QString& problem : qAsConst(problems))
        log(problem);
}

QString SimServer::findListening(const MacAddress& mac, int ifaceIndex, int* index) const
{
    *index = m_byMac.value(macKey(mac), -1);
    if (*index < 0)
        return "no such device";
    if (isSilent(*index)) {
        *index = -1;
        return "silent after a reset";
    }
    // A device on one segment hears only what arrives there, as for an enquiry.
    if (!hears(*index, ifaceIndex)) {
        *index = -1;
        return "not heard on this interface";
    }
    return QString();
}

bool SimServer::hears(int index, int ifaceIndex) const
{
    const QString& iface = m_fleet.at(index).iface;
    if (iface.isEmpty() || ifaceIndex <= 0 || !m_ifaceIndex.contains(iface))
        return true;
    return m_ifaceIndex.value(iface) == ifaceIndex;
}

bool SimServer::isSilent(int index) const
{
    return m_clock.elapsed() < m_runtime.at(index).silentUntil;
}

void SimServer::send(const QList<QByteArray>& answers, const QHostAddress& to, quint16 port,
                     bool rogue, const QList<QByteArray>& forged, int inventedDevices)
{
    // The forger is the quicker host: all of its datagrams go out ahead of the devices'.
    if (!forged.isEmpty() || inventedDevices > 0) {
        QUdpSocket* forger = forgerFor(to);
        for (const QByteArray& datagram : forged)
            m_queue.enqueue({datagram, to, port, forger});
        if (inventedDevices > 0)
            m_queue.enqueue({QByteArray(), to, port, forger, 0, inventedDevices});
        log(QStringLiteral("forger: %1 datagrams to %2:%3 from %4")
                .arg(forged.size() + inventedDevices)
                .arg(to.toString())
                .arg(port)
                .arg(forger->localAddress() == QHostAddress::AnyIPv4
                         ? QStringLiteral("port %1").arg(forger->localPort())
                         : forger->localAddress().toString()));
    }
    const QList<QByteArray> genuine = shapeAnswers(answers, m_options.faults);
    // Split answers let the rogue datagrams in between the halves of the first one, where a
    // receiver that pools its senders would graft them onto that answer.
    const int rogueAt = m_options.faults.splitAt > 0 ? qMin(1, genuine.size()) : 0;
    for (int i = 0; i < rogueAt; ++i)
        m_queue.enqueue({genuine.at(i), to, port, m_socket});
    if (rogue) {
        const QList<QByteArray> junk = rogueDatagrams(m_fleet.first());
        for (const QByteArray& datagram : junk)
            m_queue.enqueue({datagram, to, port, m_rogue});
        log(QStringLiteral("rogue sender: %1 datagrams to %2:%3")
                .arg(junk.size())
                .arg(to.toString())
                .arg(port));
    }
    for (int i = rogueAt; i < genuine.size(); ++i)
        m_queue.enqueue({genuine.at(i), to, port, m_socket});
    if (!m_pacer.isActive()) {
        m_tokens = m_options.rate > 0 ? qMax(1.0, m_options.rate * PaceTickMs / 1000.0) : 0;
        m_lastRefill = m_clock.elapsed();
        pace();
    }
}

void SimServer::pace()
{
    const bool paced = m_options.rate > 0;
    if (paced) {
        const qint64 now = m_clock.elapsed();
        const double perTick = qMax(1.0, m_options.rate * PaceTickMs / 1000.0);
        m_tokens = qMin(perTick, m_tokens + (now - m_lastRefill) * m_options.rate / 1000.0);
        m_lastRefill = now;
    }
    // Unpaced too, a pass ends after a while, so that requests and signals are heard between
    // the runs of a forger's hundreds of thousands of answers.
    int budget = UnpacedPass;
    bool full = false;
    while (!m_queue.isEmpty() && (paced ? m_tokens >= 1.0 : budget > 0)) {
        Outgoing& out = m_queue.head();
        const bool invented = out.end > 0;
        const QByteArray datagram = invented ? forgedDeviceAnswer(out.next) : out.datagram;
        if (out.socket->writeDatagram(datagram, out.to, out.port) < 0) {
            // A full send queue clears by itself; anything else would fail again.
            if (out.socket->error() == QAbstractSocket::TemporaryError) {
                full = true;
                break;
            }
            log(QStringLiteral("could not send to %1:%2: %3")
                    .arg(out.to.toString())
                    .arg(out.port)
                    .arg(out.socket->errorString()));
        }
        if (!invented || ++out.next >= out.end)
            m_queue.dequeue();
        m_tokens -= 1.0;
        --budget;
    }
    if (m_queue.isEmpty())
        m_pacer.stop();
    else if (const int tick = paced || full ? PaceTickMs : 0;
             !m_pacer.isActive() || m_pacer.interval() != tick)
        m_pacer.start(tick);
}

void SimServer::log(const QString& line) const
{
    if (!m_options.quiet)
        std::fprintf(stderr, "corla-sim: %s\n", qPrintable(line));
}

} // namespace corla
