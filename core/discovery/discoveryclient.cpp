// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/discovery/discoveryclient.h"

#include "core/net/logging.h"
#include "core/wire/refusal.h"

#include <QByteArray>
#include <QNetworkInterface>
#include <QPointer>
#include <QTimer>
#include <QUdpSocket>

#include <iterator>

namespace corla {

namespace {

// Asked of every socket so that a burst of answers waits in the kernel instead of
// being dropped there; the kernel caps it at its own maximum.
constexpr int kSocketReceiveBuffer = 4 * 1024 * 1024;
// Room for the largest request frame.
constexpr size_t kFrameBufferSize = 1024;
// How long one pass of the event loop hands on answers before it lets others run.
constexpr qint64 kDeliverySliceMs = 25;
// Names the request a socket was opened for.
// Before a repeat goes out, what is still waiting for the earlier copies is read, within
// these bounds (a flood is left to the ordinary batches).
constexpr int kDrainDatagrams = 1024;
constexpr qint64 kDrainMs = 50;
// The timer that closes a request's socket once it has been quiet for the period.
const char* const kCountdownName = "corlaCountdown";
const char* const kChannelProperty = "corlaChannel";
// Set while a further read of the socket is queued.
const char* const kReadQueuedProperty = "corlaReadQueued";

QString localText(const QUdpSocket* socket)
{
    return socket->localAddress().toString();
}

uint8_t typeByte(DeviceType type)
{
    return static_cast<uint8_t>(static_cast<int8_t>(type));
}

DeviceType typeOf(uint8_t code)
{
    return static_cast<DeviceType>(static_cast<int8_t>(code));
}

const char* rejectionReason(int16_t errorCode)
{
    return refusalReason(Refusal(errorCode));
}

bool isUsable(const QNetworkInterface& iface, const QStringList& filter)
{
    const auto flags = iface.flags();
    if (!flags.testFlag(QNetworkInterface::IsUp) || !flags.testFlag(QNetworkInterface::IsRunning) ||
        flags.testFlag(QNetworkInterface::IsLoopBack))
        return false;
    return filter.isEmpty() || filter.contains(iface.name()) ||
           filter.contains(iface.humanReadableName());
}

// Calls fn(interface, address) for every IPv4 address of every usable interface.
template <typename Fn> void forEachUsableAddress(const QStringList& filter, Fn fn)
{
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        if (!isUsable(iface, filter))
            continue;
        for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                fn(iface, entry.ip());
        }
    }
}

} // namespace

DiscoveryClient::DiscoveryClient()
{
    registerMetaTypes();
    m_clock.start();
}

DiscoveryClient::~DiscoveryClient()
{
    // The sockets close their channels as they go, which needs the members still here.
    const QObjectList sockets = m_requests.children();
    qDeleteAll(sockets);
}

quint64 DiscoveryClient::netEnquire(const Device& device) const
{
    NetworkSettings identity;
    identity.setMacAddress(device.netHostInfo().macAddress());
    EnquiryMessage enquiry(typeByte(device.devType()), device.serial(), identity);
    return bcastCommand(&enquiry);
}

quint64 DiscoveryClient::netEnquire(DeviceType type, uint16_t serial) const
{
    EnquiryMessage enquiry(typeByte(type), serial, NetworkSettings());
    return bcastCommand(&enquiry);
}

quint64 DiscoveryClient::changeNetSettings(uint16_t serial, DeviceType type,
                                           const NetworkSettings& settings) const
{
    ChangeMessage change(typeByte(type), serial, settings);
    return bcastCommand(&change);
}

quint64 DiscoveryClient::resetDevice(const MacAddress& mac) const
{
    ResetMessage reset(mac);
    return bcastCommand(&reset);
}

QList<QHostAddress> DiscoveryClient::localAddresses() const
{
    QList<QHostAddress> addresses;
    forEachUsableAddress(
        m_interfaceFilter,
        [&addresses](const QNetworkInterface&, const QHostAddress& ip) { addresses.append(ip); });
    return addresses;
}

QString DiscoveryClient::rejectionText(const Device& device, int16_t errorCode)
{
    return QStringLiteral("The network configuration was rejected by ") +
           QString::fromStdString(device.friendlyName()) + QStringLiteral(".\n\nReason: ") +
           QString::fromLatin1(rejectionReason(errorCode));
}

quint64 DiscoveryClient::openRequest(const MessagePayload& request)
{
    Request expected;
    expected.code = request.commandCode();
    if (const auto* change = dynamic_cast<const ChangeMessage*>(&request))
        expected.mac = change->netInfo().macAddress();
    else if (const auto* reset = dynamic_cast<const ResetMessage*>(&request))
        expected.mac = reset->macAddress();
    const quint64 id = ++m_lastRequest;
    m_requestsById.insert(id, expected);
    return id;
}

quint64 DiscoveryClient::openChannel(quint64 request)
{
    const auto it = m_requestsById.find(request);
    if (it == m_requestsById.end())
        return 0;
    ++it->channels;
    const quint64 channel = ++m_lastChannel;
    m_channels.insert(channel, request);
    return channel;
}

void DiscoveryClient::closeChannel(quint64 channel)
{
    const quint64 request = m_channels.take(channel);
    m_reassembler.forgetChannel(channel);
    const auto it = m_requestsById.find(request);
    if (it != m_requestsById.end() && --it->channels <= 0)
        m_requestsById.erase(it);
}

void DiscoveryClient::endRequest(quint64 request)
{
    if (request == 0)
        return;
    for (QUdpSocket* socket :
         m_requests.findChildren<QUdpSocket*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (m_channels.value(socket->property(kChannelProperty).toULongLong()) != request)
            continue;
        for (QTimer* timer : socket->findChildren<QTimer*>())
            timer->stop();
        socket->close();
        socket->deleteLater();
    }
}

QList<QUdpSocket*> DiscoveryClient::getUdpSockets() const
{
    // Requests are const, but their sockets report to this adapter.
    auto* self = const_cast<DiscoveryClient*>(this);
    QList<QUdpSocket*> sockets;
    forEachUsableAddress(
        m_interfaceFilter, [&](const QNetworkInterface& iface, const QHostAddress& ip) {
            auto* socket = new QUdpSocket(&self->m_requests);
            connect(socket, &QUdpSocket::readyRead, self, &DiscoveryClient::readSocket);
            if (!socket->bind(ip, 0)) {
                emit self->warning(QStringLiteral("could not listen on %1: %2")
                                       .arg(ip.toString(), socket->errorString()));
                delete socket;
                return;
            }
            socket->setMulticastInterface(iface);
            socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                                    kSocketReceiveBuffer);
            sockets.append(socket);
        });
    return sockets;
}

quint64 DiscoveryClient::bcastCommand(MessagePayload* payload) const
{
    auto* self = const_cast<DiscoveryClient*>(this);
    const QList<QUdpSocket*> sockets = getUdpSockets();
    if (sockets.isEmpty())
        return 0;
    const quint64 request = self->openRequest(*payload);
    const bool repeated = payload->commandCode() == MessageCode::NetworkEnquiry;
    for (QUdpSocket* socket : sockets) {
        const quint64 channel = self->openChannel(request);
        socket->setProperty(kChannelProperty, channel);
        connect(socket, &QObject::destroyed, self,
                [self, channel] { self->closeChannel(channel); });
        // A send's failure is reported by sendFrame, with its own words.
        connect(socket, &QAbstractSocket::errorOccurred, self, [self, socket, channel] {
            if (!self->m_sending)
                self->warnOnce(channel, QStringLiteral("stopped listening on ") + localText(socket),
                               socket->errorString());
        });
        payload->setResponsePort(socket->localPort());
        const Frame command(payload);
        uint8_t frame[kFrameBufferSize];
        uint64_t size = 0;
        command.serialize(&size, frame);
        const QByteArray bytes(reinterpret_cast<const char*>(frame), static_cast<int>(size));

        // Every datagram on the socket restarts its countdown; at expiry both go.
        auto* timer = new QTimer(socket);
        timer->setObjectName(QLatin1String(kCountdownName));
        timer->setInterval(m_timeoutPeriod);
        connect(socket, &QUdpSocket::readyRead, timer, QOverload<>::of(&QTimer::start));
        connect(timer, &QTimer::timeout, self, &DiscoveryClient::timeout);
        connect(timer, &QTimer::timeout, socket, &QObject::deleteLater);
        connect(timer, &QTimer::timeout, timer, &QObject::deleteLater);
        self->sendFrame(socket, bytes);
        timer->start();
        if (repeated)
            self->repeatEnquiry(socket, timer, channel, bytes);
    }
    return request;
}

void DiscoveryClient::sendFrame(QUdpSocket* socket, const QByteArray& frame)
{
    qCDebug(logDiscovery).noquote()
        << "Sending Command:" << frame.toHex()
        << "from interface:" << socket->localAddress().toString() << ":" << socket->localPort();
    emit requestSent(frame, socket->localAddress());
    m_sending = true;
    const qint64 sent = socket->writeDatagram(frame, QHostAddress::Broadcast, kDiscoveryPort);
    m_sending = false;
    if (sent < 0) {
        qCDebug(logDiscovery).noquote()
            << "Send failed from" << localText(socket) << ":" << socket->errorString();
        warnOnce(socket->property(kChannelProperty).toULongLong(),
                 QStringLiteral("could not send from ") + localText(socket), socket->errorString());
    }
}

void DiscoveryClient::warnOnce(quint64 channel, const QString& cause, const QString& detail)
{
    const auto request = m_requestsById.find(m_channels.value(channel));
    if (request == m_requestsById.end() || request->warned.contains(cause))
        return;
    request->warned.append(cause);
    emit warning(cause + QStringLiteral(": ") + detail);
}

void DiscoveryClient::repeatEnquiry(QUdpSocket* socket, QTimer* countdown, quint64 channel,
                                    const QByteArray& frame)
{
    // The copies keep to the schedule as counted from the first, however late the event
    // loop runs one of them. The timer lives with the socket: when the socket's countdown
    // runs out, the copies still due are never sent.
    //
    // A frame still unfinished when the next copy goes out is dropped: a device sends the
    // parts of an answer back to back, and answers the new copy whole. Carried on, a
    // sender's leftover header would take the next copy's datagrams as its payload.
    auto* repeat = new QTimer(socket);
    repeat->setSingleShot(true);
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    size_t next = 1;
    const auto arm = [repeat, sinceFirst](size_t copy) {
        repeat->start(int(qMax<qint64>(0, kEnquiryRepeatsMs[copy] - sinceFirst.elapsed())));
    };
    connect(repeat, &QTimer::timeout, this, [this, socket, channel, frame, arm, next]() mutable {
        // Whatever arrived before this copy answers the copies before it: read it first, so
        // that a busy event loop does not carry an old frame into the new copy's answers.
        readBatch(socket, kDrainDatagrams, kDrainMs);
        m_reassembler.dropPartialFrames(channel);
        sendFrame(socket, frame);
        if (++next < std::size(kEnquiryRepeatsMs))
            arm(next);
    });
    // Stopped as the countdown runs out, not only at the socket's deferred deletion.
    connect(countdown, &QTimer::timeout, repeat, &QTimer::stop);
    arm(next);
}

void DiscoveryClient::readSocket()
{
    auto* socket = qobject_cast<QUdpSocket*>(sender());
    if (!socket) {
        qCWarning(logDiscovery)
            << "ZelCorlaController::readSocket(): WARNING! qobject_cast<QUdpSocket*>(sender() "
               "failed. UDP Socket wasy not read and not get destroyed.";
        return;
    }
    readBatch(socket);
}

void DiscoveryClient::readBatch(QUdpSocket* socket, int maxDatagrams, qint64 maxMs)
{
    DatagramOrigin origin;
    origin.channel = socket->property(kChannelProperty).toULongLong();
    // The socket is bound to one local address: that is the address the device
    // answered, even where its interface carries several.
    const QHostAddress local = socket->localAddress();
    if (local.protocol() == QAbstractSocket::IPv4Protocol)
        origin.ifaceAddr = local.toIPv4Address();
    else
        qCDebug(logDiscovery) << "INVALID INTERFACE!";

    QElapsedTimer batch;
    batch.start();
    int read = 0;
    QByteArray datagram;
    QHostAddress from;
    while (socket->hasPendingDatagrams()) {
        if (m_inbox.size() >= kInboxLimit) {
            // Delivery is behind: come back after a slice of it.
            restartCountdown(socket, read);
            scheduleRead(socket, int(kDeliverySliceMs));
            return;
        }
        if (read >= maxDatagrams || batch.elapsed() >= maxMs) {
            restartCountdown(socket, read);
            scheduleRead(socket, 0);
            return;
        }
        datagram.resize(static_cast<int>(qMax<qint64>(socket->pendingDatagramSize(), 0)));
        const qint64 n =
            socket->readDatagram(datagram.data(), datagram.size(), &from, &origin.senderPort);
        if (n < 0)
            break;
        ++read;
        origin.sender = from.toIPv4Address();
        processDatagram(reinterpret_cast<const uint8_t*>(datagram.constData()),
                        static_cast<uint64_t>(n), origin);
    }
    restartCountdown(socket, read);
}

void DiscoveryClient::restartCountdown(QUdpSocket* socket, int read)
{
    // A datagram read in a later batch counts as much as one its notifier announced.
    if (read == 0)
        return;
    if (auto* countdown =
            socket->findChild<QTimer*>(QLatin1String(kCountdownName), Qt::FindDirectChildrenOnly))
        countdown->start();
}

void DiscoveryClient::scheduleRead(QUdpSocket* socket, int delayMs)
{
    // The socket's own notifier may come back for it as well; one queued read is enough.
    if (socket->property(kReadQueuedProperty).toBool())
        return;
    socket->setProperty(kReadQueuedProperty, true);
    QTimer::singleShot(delayMs, socket, [this, socket] {
        socket->setProperty(kReadQueuedProperty, false);
        readBatch(socket);
    });
}

void DiscoveryClient::processDatagram(const uint8_t* data, uint64_t size,
                                      const DatagramOrigin& origin)
{
    const quint64 requestId = m_channels.value(origin.channel);
    const auto requestIt = m_requestsById.find(requestId);
    const Request request = requestIt != m_requestsById.end() ? *requestIt : Request();
    const auto from = [&origin] {
        return QHostAddress(origin.sender).toString() + QStringLiteral(" : ") +
               QString::number(origin.senderPort);
    };
    const auto keep = [&](std::unique_ptr<Frame> msg) {
        const uint8_t code = msg->payload()->commandCode();
        if (const auto* answer = msg->payloadAs<EnquiryMessage>()) {
            // Fields the answer lacks would be listed as zero: a device that is not there.
            if (answer->answerSize() < EnquiryMessage::MinAnswerSize) {
                qCDebug(logDiscovery).noquote()
                    << "Dropped an enquiry answer too short to name a device:"
                    << answer->answerSize() << "bytes from" << from();
                return;
            }
            if (answer->netInfo().macAddress().isNull()) {
                qCDebug(logDiscovery).noquote()
                    << "Dropped an enquiry answer without a MAC address from" << from();
                return;
            }
        }
        if (!isAskedFor(request, *msg)) {
            qCDebug(logDiscovery).noquote() << "Dropped an answer nobody asked for: code"
                                            << QString::number(code, 16) << "from" << from();
            return;
        }
        if (code != MessageCode::NetworkEnquiry) {
            // The first change or reset answer settles its request, on every channel.
            if (requestIt->settled) {
                qCDebug(logDiscovery).noquote()
                    << "Dropped a further answer to a settled request: code"
                    << QString::number(code, 16) << "from" << from();
                return;
            }
            requestIt->settled = true;
        }
        m_inbox.push_back({std::move(msg), origin, requestId});
    };
    const Sender sender{origin.channel, origin.sender, origin.senderPort};
    m_reassembler.feed(sender, data, size_t(size), m_clock.elapsed(), keep);

    if (!m_inbox.empty() && !m_deliveryQueued) {
        m_deliveryQueued = true;
        QMetaObject::invokeMethod(this, &DiscoveryClient::deliverInbox, Qt::QueuedConnection);
    }
}

bool DiscoveryClient::isAskedFor(const Request& request, const Frame& answer) const
{
    // Any device may answer an enquiry; a change or a reset is reported only for the
    // device that this channel's request was sent to.
    if (answer.payloadAs<EnquiryMessage>())
        return true;
    if (const auto* change = answer.payloadAs<ChangeMessage>())
        return request.code == MessageCode::ChangeNetwork &&
               change->netInfo().macAddress() == request.mac;
    if (const auto* reset = answer.payloadAs<ResetMessage>())
        return request.code == MessageCode::ResetDevice && reset->macAddress() == request.mac;
    return false;
}

void DiscoveryClient::deliverInbox()
{
    m_deliveryQueued = false;
    const QPointer<DiscoveryClient> alive(this);
    QElapsedTimer slice;
    slice.start();
    // One at a time: a receiver's nested event loop may deliver the rest (in order) or
    // destroy this adapter.
    while (!m_inbox.empty()) {
        // A burst of thousands of answers is handed on in slices, so that the event loop
        // (painting, timers, the port probes) gets its turn in between.
        if (slice.elapsed() >= kDeliverySliceMs) {
            m_deliveryQueued = true;
            QMetaObject::invokeMethod(this, &DiscoveryClient::deliverInbox, Qt::QueuedConnection);
            return;
        }
        const Inbound next = std::move(m_inbox.front());
        m_inbox.pop_front();
        emit messageReceived(next.msg.get(), next.origin.ifaceAddr);
        if (!alive)
            return;
        handleAnswer(next);
        if (!alive)
            return;
    }
}

void DiscoveryClient::handleAnswer(const Inbound& inbound)
{
    const Frame* msg = inbound.msg.get();
    if (!msg)
        return;
    const auto stamp = [&inbound](Device& device) {
        device.setCommsIfaceAddr(Ipv4Address(inbound.origin.ifaceAddr));
        device.setAnsweredFrom(Ipv4Address(inbound.origin.sender));
        device.setAnsweredFromPort(inbound.origin.senderPort);
    };
    const QPointer<DiscoveryClient> alive(this);
    if (const auto* answer = msg->payloadAs<EnquiryMessage>()) {
        std::shared_ptr<Device> device = std::make_shared<Device>(typeOf(answer->deviceType()));
        device->setSerial(answer->serialNo());
        device->setNetHostInfo(answer->netInfo());
        stamp(*device);
        emit enquiryAnswered(inbound.request, device);
        if (!alive)
            return;
        emit deviceFound(device);
    } else if (const auto* answer = msg->payloadAs<ChangeMessage>()) {
        auto device = std::make_shared<Device>(answer->serialNo(), typeOf(answer->deviceType()),
                                               answer->netInfo());
        stamp(*device);
        const int16_t code = answer->error();
        // A receiver may open a modal box in which this adapter goes.
        emit changeAnswered(inbound.request, device, code);
        if (!alive)
            return;
        if (code == 0)
            emit deviceChanged(device);
        else
            emit error(rejectionText(*device, code));
    } else if (const auto* answer = msg->payloadAs<ResetMessage>()) {
        const MacAddress mac = answer->macAddress();
        emit resetAnswered(inbound.request, mac);
        if (!alive)
            return;
        emit deviceReset(mac);
    }
}

} // namespace corla
