#pragma once
// The door to the discovery protocol: broadcasts requests from every usable local
// IPv4 address and reports the answers that come back as signals.

#include "circbuf.h"
#include "zecorla.h"
#include "zeldevice.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
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
    // until the timeout period passes without a datagram on it. Virtual so that a test
    // can stand in for the network and answer with the signals itself.
    virtual void netEnquire(const ZelDevice& device) const;
    virtual void netEnquire(ZelDeviceType type, uint16_t serial) const;
    virtual void changeNetSettings(uint16_t serial, ZelDeviceType type,
                                   const TevNetHostInfo& settings) const;
    virtual void resetDevice(const TevMacAddr& mac) const;

    int getTimeoutPeriod() const { return m_timeoutPeriod; }
    void setTimeoutPeriod(int ms)
    {
        m_timeoutPeriod = ms;
        m_reassembler.setIdleLimit(ms);
    }

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
    // One request frame has gone out from the socket bound to `from`.
    void requestSent(const QByteArray& frame, const QHostAddress& from);

protected:
    // Where a datagram came in: the request's channel (its socket), the sender, and the
    // local address the socket is bound to (host order, 0 when unknown).
    struct DatagramOrigin
    {
        quint64 channel = 0;
        uint32_t sender = 0;
        quint16 senderPort = 0;
        uint32_t ifaceAddr = 0;
    };

    // Opens the channel on which the answers to one request are heard; change and reset
    // answers count only on the channel of a request that asked that device for them.
    quint64 openChannel(const ZelCorlaCommandPayload& request);
    void closeChannel(quint64 channel);

    // One received datagram: parsed at once with the earlier datagrams of the same
    // sender on the same channel (so a burst of answers never has to fit one buffer
    // together), and the answers it completes queued for delivery. Signals follow from
    // the event loop, never from inside this call.
    void processDatagram(const uint8_t* data, uint64_t size, const DatagramOrigin& origin);

private:
    struct Request
    {
        uint8_t code = 0;
        TevMacAddr mac; // the device a change or reset was sent to
    };
    struct Inbound
    {
        std::unique_ptr<ZelCorlaCommand> msg;
        uint32_t ifaceAddr = 0;
    };

    void readSocket();
    void handleCorlaMsg(ZelCorlaCommand* msg, uint32_t ifaceAddr);
    QList<QUdpSocket*> getUdpSockets() const;
    void bcastCommand(ZelCorlaCommandPayload* payload) const;
    bool isAskedFor(const Request& request, const ZelCorlaCommand& answer) const;
    void deliverInbox();

    // Holds the sockets (and their timers) of requests still listening. They end
    // themselves when their period runs out; whatever still listens when the adapter
    // goes is closed with it rather than left to leak.
    QObject m_requests;
    QHash<quint64, Request> m_channels;
    quint64 m_lastChannel = 0;
    ZelCorlaReassembler m_reassembler{kDefaultTimeoutMs};
    QElapsedTimer m_clock;
    // Answers read and not yet reported. Receivers may open modal boxes (a nested event
    // loop in which sockets expire and this adapter may be destroyed), so no signal is
    // emitted while a socket is being read.
    std::deque<Inbound> m_inbox;
    bool m_deliveryQueued = false;
    int m_timeoutPeriod = kDefaultTimeoutMs;
    QStringList m_interfaceFilter;
};
