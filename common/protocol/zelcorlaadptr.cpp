#include "zelcorlaadptr.h"

#include <QByteArray>
#include <QDebug>
#include <QNetworkInterface>
#include <QTimer>
#include <QUdpSocket>

namespace {

// Asked of every socket so that a burst of answers waits in the kernel instead of
// being dropped there; the kernel caps it at its own maximum.
constexpr int kSocketReceiveBuffer = 4 * 1024 * 1024;
// Room for the largest request frame.
constexpr size_t kFrameBufferSize = 1024;

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
    switch (errorCode) {
    case -1:
        return "An error occured in the device.";
    case 1:
        return "The IP address was invalid.";
    case 2:
        return "The subnet was invalid.";
    case 3:
        return "The gateway address was invalid.";
    case 4:
        return "The IP address was a broadcast address.";
    case 5:
        return "The IP address given was the same as the device's existing address.";
    case 6:
        return "The address acquisition mode was invalid.";
    default:
        return "";
    }
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
    connect(this, &ZelCorlaAdapter::messageReceived, this, &ZelCorlaAdapter::handleCorlaMsg);
}

ZelCorlaAdapter::~ZelCorlaAdapter() = default;

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
        payload->setResponsePort(socket->localPort());
        const ZelCorlaCommand command(payload);
        uint8_t frame[kFrameBufferSize];
        uint64_t size = 0;
        command.serialize(&size, frame);
        const QByteArray bytes(reinterpret_cast<const char*>(frame), static_cast<int>(size));
        qDebug().noquote() << "Sending Command:" << bytes.toHex()
                           << "from interface:" << socket->localAddress().toString() << ":"
                           << socket->localPort();

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
        qDebug() << "ZelCorlaController::readSocket(): WARNING! qobject_cast<QUdpSocket*>(sender() "
                    "failed. UDP Socket wasy not read and not get destroyed.";
        return;
    }
    // The socket is bound to one local address: that is the address the device
    // answered, even where its interface carries several.
    const QHostAddress local = socket->localAddress();
    uint32_t ifaceAddr = 0;
    if (local.protocol() == QAbstractSocket::IPv4Protocol)
        ifaceAddr = local.toIPv4Address();
    else
        qDebug() << "INVALID INTERFACE!";

    QByteArray datagram;
    while (socket->hasPendingDatagrams()) {
        datagram.resize(static_cast<int>(qMax<qint64>(socket->pendingDatagramSize(), 0)));
        const qint64 n = socket->readDatagram(datagram.data(), datagram.size());
        if (n < 0)
            break;
        processDatagram(reinterpret_cast<const uint8_t*>(datagram.constData()),
                        static_cast<uint64_t>(n), ifaceAddr);
    }
}

void ZelCorlaAdapter::processDatagram(const uint8_t* data, uint64_t size, uint32_t ifaceAddr)
{
    const auto deliver = [this, ifaceAddr](std::unique_ptr<ZelCorlaCommand> msg) {
        emit messageReceived(msg.get(), ifaceAddr);
    };
    // A datagram larger than the buffer's free space goes in by parts, parsed in between.
    do {
        const uint64_t taken = m_buffer.write(data, size);
        data += taken;
        size -= taken;
        m_parser.drive(m_buffer, deliver);
        if (taken == 0 && m_buffer.isFull())
            break; // the parser could not make room: drop the rest
    } while (size > 0);
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
