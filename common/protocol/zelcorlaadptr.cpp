#include "zelcorlaadptr.h"

#include "corlalog.h"
#include "corlarefusal.h"

#include <QByteArray>
#include <QNetworkInterface>
#include <QPointer>
#include <QTimer>
#include <QUdpSocket>

namespace {

// Asked of every socket so that a burst of answers waits in the kernel instead of
// being dropped there; the kernel caps it at its own maximum.
constexpr int kSocketReceiveBuffer = 4 * 1024 * 1024;
// Room for the largest request frame.
constexpr size_t kFrameBufferSize = 1024;
// How long one pass of the event loop hands on answers before it lets others run.
constexpr qint64 kDeliverySliceMs = 25;
// Names the request a socket was opened for.
const char* const kChannelProperty = "corlaChannel";

uint8_t typeByte(ZelDeviceType type)
{
    return static_cast<uint8_t>(static_cast<int8_t>(type));
}

ZelDeviceType typeOf(uint8_t code)
{
    return static_cast<ZelDeviceType>(static_cast<int8_t>(code));
}

const char* rejectionReason(int16_t errorCode)
{
    return refusalReason(CorlaRefusal(errorCode));
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

ZelCorlaAdapter::ZelCorlaAdapter()
{
    registerCorlaMetaTypes();
    m_clock.start();
    connect(this, &ZelCorlaAdapter::messageReceived, this, &ZelCorlaAdapter::handleCorlaMsg);
}

ZelCorlaAdapter::~ZelCorlaAdapter()
{
    // The sockets close their channels as they go, which needs the members still here.
    const QObjectList sockets = m_requests.children();
    qDeleteAll(sockets);
}

void ZelCorlaAdapter::netEnquire(const ZelDevice& device) const
{
    TevNetHostInfo identity;
    identity.setMacAddress(device.netHostInfo().macAddress());
    ZelNetworkEnqireCmd enquiry(typeByte(device.devType()), device.serial(), identity);
    bcastCommand(&enquiry);
}

void ZelCorlaAdapter::netEnquire(ZelDeviceType type, uint16_t serial) const
{
    ZelNetworkEnqireCmd enquiry(typeByte(type), serial, TevNetHostInfo());
    bcastCommand(&enquiry);
}

void ZelCorlaAdapter::changeNetSettings(uint16_t serial, ZelDeviceType type,
                                        const TevNetHostInfo& settings) const
{
    ZelChangeNetworkCmd change(typeByte(type), serial, settings);
    bcastCommand(&change);
}

void ZelCorlaAdapter::resetDevice(const TevMacAddr& mac) const
{
    ZelResetDeviceCmd reset(mac);
    bcastCommand(&reset);
}

QList<QHostAddress> ZelCorlaAdapter::localAddresses() const
{
    QList<QHostAddress> addresses;
    forEachUsableAddress(
        m_interfaceFilter,
        [&addresses](const QNetworkInterface&, const QHostAddress& ip) { addresses.append(ip); });
    return addresses;
}

QString ZelCorlaAdapter::rejectionText(const TevDevice& device, int16_t errorCode)
{
    return QStringLiteral("The network configuration was rejected by ") +
           QString::fromStdString(device.friendlyName()) + QStringLiteral(".\n\nReason: ") +
           QString::fromLatin1(rejectionReason(errorCode));
}

quint64 ZelCorlaAdapter::openChannel(const ZelCorlaCommandPayload& request)
{
    Request expected;
    expected.code = request.commandCode();
    if (const auto* change = dynamic_cast<const ZelChangeNetworkCmd*>(&request))
        expected.mac = change->netInfo().macAddress();
    else if (const auto* reset = dynamic_cast<const ZelResetDeviceCmd*>(&request))
        expected.mac = reset->macAddress();
    const quint64 channel = ++m_lastChannel;
    m_channels.insert(channel, expected);
    return channel;
}

void ZelCorlaAdapter::closeChannel(quint64 channel)
{
    m_channels.remove(channel);
    m_reassembler.forgetChannel(channel);
}

QList<QUdpSocket*> ZelCorlaAdapter::getUdpSockets() const
{
    // Requests are const, but their sockets report to this adapter.
    auto* self = const_cast<ZelCorlaAdapter*>(this);
    QList<QUdpSocket*> sockets;
    forEachUsableAddress(
        m_interfaceFilter, [&](const QNetworkInterface& iface, const QHostAddress& ip) {
            auto* socket = new QUdpSocket(&self->m_requests);
            connect(socket, &QUdpSocket::readyRead, self, &ZelCorlaAdapter::readSocket);
            if (!socket->bind(ip, 0)) {
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

void ZelCorlaAdapter::bcastCommand(ZelCorlaCommandPayload* payload) const
{
    auto* self = const_cast<ZelCorlaAdapter*>(this);
    for (QUdpSocket* socket : getUdpSockets()) {
        const quint64 channel = self->openChannel(*payload);
        socket->setProperty(kChannelProperty, channel);
        connect(socket, &QObject::destroyed, self,
                [self, channel] { self->closeChannel(channel); });
        payload->setResponsePort(socket->localPort());
        const ZelCorlaCommand command(payload);
        uint8_t frame[kFrameBufferSize];
        uint64_t size = 0;
        command.serialize(&size, frame);
        const QByteArray bytes(reinterpret_cast<const char*>(frame), static_cast<int>(size));
        qCDebug(corlaDiscovery).noquote()
            << "Sending Command:" << bytes.toHex()
            << "from interface:" << socket->localAddress().toString() << ":" << socket->localPort();
        emit self->requestSent(bytes, socket->localAddress());

        // Every datagram on the socket restarts its countdown; at expiry both go.
        auto* timer = new QTimer(socket);
        timer->setInterval(m_timeoutPeriod);
        connect(socket, &QUdpSocket::readyRead, timer, QOverload<>::of(&QTimer::start));
        connect(timer, &QTimer::timeout, self, &ZelCorlaAdapter::timeout);
        connect(timer, &QTimer::timeout, socket, &QObject::deleteLater);
        connect(timer, &QTimer::timeout, timer, &QObject::deleteLater);
        socket->writeDatagram(bytes, QHostAddress::Broadcast, kDiscoveryPort);
        timer->start();
    }
}

void ZelCorlaAdapter::readSocket()
{
    auto* socket = qobject_cast<QUdpSocket*>(sender());
    if (!socket) {
        qCWarning(corlaDiscovery)
            << "ZelCorlaAdapter::readSocket(): WARNING! qobject_cast<QUdpSocket*>(sender() "
               "failed. UDP Socket wasy not read and not get destroyed.";
        return;
    }
    DatagramOrigin origin;
    origin.channel = socket->property(kChannelProperty).toULongLong();
    // The socket is bound to one local address: that is the address the device
    // answered, even where its interface carries several.
    const QHostAddress local = socket->localAddress();
    if (local.protocol() == QAbstractSocket::IPv4Protocol)
        origin.ifaceAddr = local.toIPv4Address();
    else
        qCDebug(corlaDiscovery) << "INVALID INTERFACE!";

    QByteArray datagram;
    QHostAddress from;
    while (socket->hasPendingDatagrams()) {
        datagram.resize(static_cast<int>(qMax<qint64>(socket->pendingDatagramSize(), 0)));
        const qint64 n =
            socket->readDatagram(datagram.data(), datagram.size(), &from, &origin.senderPort);
        if (n < 0)
            break;
        origin.sender = from.toIPv4Address();
        processDatagram(reinterpret_cast<const uint8_t*>(datagram.constData()),
                        static_cast<uint64_t>(n), origin);
    }
}

void ZelCorlaAdapter::processDatagram(const uint8_t* data, uint64_t size,
                                      const DatagramOrigin& origin)
{
    const Request request = m_channels.value(origin.channel);
    const auto keep = [&](std::unique_ptr<ZelCorlaCommand> msg) {
        if (!isAskedFor(request, *msg)) {
            qCDebug(corlaDiscovery).noquote()
                << "Dropped an answer nobody asked for: code"
                << QString::number(msg->payload()->commandCode(), 16) << "from"
                << QHostAddress(origin.sender).toString() << ":" << origin.senderPort;
            return;
        }
        m_inbox.push_back({std::move(msg), origin.ifaceAddr});
    };
    const CorlaSender sender{origin.channel, origin.sender, origin.senderPort};
    m_reassembler.feed(sender, data, size_t(size), m_clock.elapsed(), keep);

    if (!m_inbox.empty() && !m_deliveryQueued) {
        m_deliveryQueued = true;
        QMetaObject::invokeMethod(this, &ZelCorlaAdapter::deliverInbox, Qt::QueuedConnection);
    }
}

bool ZelCorlaAdapter::isAskedFor(const Request& request, const ZelCorlaCommand& answer) const
{
    // Any device may answer an enquiry; a change or a reset is reported only for the
    // device that this channel's request was sent to.
    if (answer.payloadAs<ZelNetworkEnqireCmd>())
        return true;
    if (const auto* change = answer.payloadAs<ZelChangeNetworkCmd>())
        return request.code == ZelCorlaCode::ChangeNetwork &&
               change->netInfo().macAddress() == request.mac;
    if (const auto* reset = answer.payloadAs<ZelResetDeviceCmd>())
        return request.code == ZelCorlaCode::ResetDevice && reset->macAddress() == request.mac;
    return false;
}

void ZelCorlaAdapter::deliverInbox()
{
    m_deliveryQueued = false;
    const QPointer<ZelCorlaAdapter> alive(this);
    QElapsedTimer slice;
    slice.start();
    // One at a time: a receiver's nested event loop may deliver the rest (in order) or
    // destroy this adapter.
    while (!m_inbox.empty()) {
        // A burst of thousands of answers is handed on in slices, so that the event loop
        // (painting, timers, the port probes) gets its turn in between.
        if (slice.elapsed() >= kDeliverySliceMs) {
            m_deliveryQueued = true;
            QMetaObject::invokeMethod(this, &ZelCorlaAdapter::deliverInbox, Qt::QueuedConnection);
            return;
        }
        const Inbound next = std::move(m_inbox.front());
        m_inbox.pop_front();
        emit messageReceived(next.msg.get(), next.ifaceAddr);
        if (!alive)
            return;
    }
}

void ZelCorlaAdapter::handleCorlaMsg(ZelCorlaCommand* msg, uint32_t ifaceAddr)
{
    if (!msg)
        return;
    if (const auto* answer = msg->payloadAs<ZelNetworkEnqireCmd>()) {
        std::shared_ptr<TevDevice> device = TevDevice::createDevice(typeOf(answer->deviceType()));
        device->setSerial(answer->serialNo());
        device->setNetHostInfo(answer->netInfo());
        device->setCommsIfaceAddr(TevIpAddr(ifaceAddr));
        emit deviceFound(device);
    } else if (const auto* answer = msg->payloadAs<ZelChangeNetworkCmd>()) {
        auto device = std::make_shared<ZelDevice>(answer->serialNo(), typeOf(answer->deviceType()),
                                                  answer->netInfo(), ZelJobSettingsMap{});
        if (answer->error() == 0)
            emit deviceChanged(device);
        else
            emit error(rejectionText(*device, answer->error()));
    } else if (const auto* answer = msg->payloadAs<ZelResetDeviceCmd>()) {
        emit deviceReset(answer->macAddress());
    }
}
