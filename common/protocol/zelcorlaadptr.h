#pragma once
// The door to the discovery protocol: broadcasts requests from every usable local
// IPv4 address and reports the answers that come back as signals.

#include "circbuf.h"
#include "zecorla.h"
#include "zeldevice.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

class QUdpSocket;

class ZelCorlaAdapter : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 kDiscoveryPort = 62726;
    static constexpr int kDefaultTimeoutMs = 30000;

    ZelCorlaAdapter();
    ~ZelCorlaAdapter() override;

    // Requests return at once; answers arrive as signals. Each request opens one socket
    // per usable local IPv4 address, and each socket stays open (and is answered on)
    // until the timeout period passes without a datagram on it.
    void netEnquire(const ZelDevice& device) const;
    void netEnquire(ZelDeviceType type, uint16_t serial) const;
    void changeNetSettings(uint16_t serial, ZelDeviceType type,
                           const TevNetHostInfo& settings) const;
    void resetDevice(const TevMacAddr& mac) const;

    int getTimeoutPeriod() const { return m_timeoutPeriod; }
    void setTimeoutPeriod(int ms) { m_timeoutPeriod = ms; }

    // Limits requests to the interfaces with these names (QNetworkInterface::name() or
    // humanReadableName()); empty, the default, means every usable interface.
    void setInterfaceFilter(const QStringList& names) { m_interfaceFilter = names; }
    QStringList interfaceFilter() const { return m_interfaceFilter; }
    // The local addresses a request would be sent from now.
    QList<QHostAddress> localAddresses() const;

    // The text of error() for a refused change; codes without a known reason end right
    // after "Reason: ".
    static QString rejectionText(const TevDevice& device, int16_t errorCode);

signals:
    // For the adapter's own use: the message lives only for the duration of the call.
    void messageReceived(ZelCorlaCommand* msg, uint32_t ifaceAddr = 0);
    void deviceFound(std::shared_ptr<TevDevice> dev);
    void deviceChanged(std::shared_ptr<ZelDevice> dev);
    void deviceReset(TevMacAddr mac);
    void error(QString errStr);
    void timeout();

protected:
    // One received datagram, as it came in on a socket bound to the local address
    // ifaceAddr (host order, 0 when unknown): appended to the receive buffer and parsed
    // at once, so a burst of answers never has to fit the buffer together (nor does a
    // datagram larger than the buffer: it goes in by parts).
    void processDatagram(const uint8_t* data, uint64_t size, uint32_t ifaceAddr);

private:
    void readSocket();
    void handleCorlaMsg(ZelCorlaCommand* msg, uint32_t ifaceAddr);
    QList<QUdpSocket*> getUdpSockets() const;
    void bcastCommand(ZelCorlaCommandPayload* payload) const;

    // Holds the sockets (and their timers) of requests still listening. They end
    // themselves when their period runs out; whatever still listens when the adapter
    // goes is closed with it rather than left to leak.
    QObject m_requests;
    ZelCorlaProcessor m_parser;
    CircularByteBuffer m_buffer{ZelCorlaProcessor::ReceiveBufferSize};
    int m_timeoutPeriod = kDefaultTimeoutMs;
    QStringList m_interfaceFilter;
};
