// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The door to the discovery protocol: broadcasts requests from every usable local
// IPv4 address and reports the answers that come back as signals.

#include "core/net/device.h"
#include "core/wire/circularbuffer.h"
#include "core/wire/codec.h"

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

class QTimer;
class QUdpSocket;

namespace corla {

class DiscoveryClient : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 kDiscoveryPort = 62726;
    static constexpr int kDefaultTimeoutMs = 30000;
    // When each copy of an enquiry leaves its socket, in ms after the first. The early
    // repeats make up for a single lost datagram quickly; the later, wider gaps ride out
    // a burst of loss while the last copy's answers still arrive inside a 3 s wait, even
    // from a thousand devices answering at a paced rate. A device is missed only if every
    // copy's exchange is lost: with 20 % lost in each direction, 36 % of exchanges fail,
    // and eight copies miss 0.36^8, about three devices in ten thousand (five would miss
    // six in a thousand, and list a fleet of twenty whole in only nine runs of ten).
    static constexpr int kEnquiryRepeatsMs[] = {0, 100, 300, 600, 900, 1300, 1800, 2400};
    // One pass of the event loop reads at most this many datagrams from a socket, or for
    // at most this long, whichever comes first; the rest waits for the next pass, so that
    // a flood on a socket never stops the clock (timers, --wait, painting).
    static constexpr int kReadBatchDatagrams = 64;
    static constexpr qint64 kReadBatchMs = 4;
    // Answers read and not yet handed on; past this, reading waits for delivery and the
    // kernel's buffer takes (or drops) the rest.
    static constexpr size_t kInboxLimit = 50000;

    DiscoveryClient();
    ~DiscoveryClient() override;

    // Requests return at once with the request's id (0 when no local address could send
    // it); answers arrive as signals. Each request opens one socket (one channel) per
    // usable local IPv4 address, and all of them share the request's id. Each socket stays
    // open (and is answered on) until the timeout period passes without a datagram on it.
    // An enquiry goes out again from the same socket on kEnquiryRepeatsMs, as long as the
    // socket is open; a change or a reset goes out once. Virtual so that a test can stand
    // in for the network and answer with the signals itself.
    virtual quint64 netEnquire(const Device& device) const;
    virtual quint64 netEnquire(DeviceType type, uint16_t serial) const;
    virtual quint64 changeNetSettings(uint16_t serial, DeviceType type,
                                      const NetworkSettings& settings) const;
    virtual quint64 resetDevice(const MacAddress& mac) const;
    // Stops listening for a request's answers and sends no further copies of it; its
    // sockets go at the next turn of the event loop. An unknown or ended request is ignored.
    void endRequest(quint64 request);

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
    static QString rejectionText(const Device& device, int16_t errorCode);

signals:
    // For the adapter's own use: the message lives only for the duration of the call.
    void messageReceived(Frame* msg, uint32_t ifaceAddr = 0);
    void deviceFound(std::shared_ptr<Device> dev);
    // The same answer, with the enquiry it answers: a late answer to an earlier enquiry
    // (settings from before a change) is no answer to a later one.
    void enquiryAnswered(quint64 request, std::shared_ptr<Device> dev);
    // The first answer to a change request, from any of its channels; errorCode 0 =
    // accepted. `answer` is the record built from the answer (settings as the answer
    // states them, with its sender). Further answers to the request are dropped unheard.
    void changeAnswered(quint64 request, std::shared_ptr<Device> answer, int16_t errorCode);
    // The first acknowledgement of a reset request.
    void resetAnswered(quint64 request, MacAddress mac);
    // Once per request as well, beside changeAnswered (accepted: deviceChanged; refused:
    // error) and resetAnswered.
    void deviceChanged(std::shared_ptr<Device> dev);
    void deviceReset(MacAddress mac);
    void error(QString errStr);
    // What a request could not do, once per cause and local address per request: "could
    // not send from 10.10.0.1: <socket error>", "could not listen on 10.10.0.1: ...",
    // "stopped listening on 10.10.0.1: ..." (its socket failed, as when the interface
    // goes away while the request listens).
    void warning(QString text);
    void timeout();
    // One request frame, or a copy of an enquiry, has gone out from the socket bound to
    // `from`.
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

    // A request and the channels on which its answers are heard (one per socket); change
    // and reset answers count only on a channel of a request that asked that device for
    // them, and only the first of them. The request is forgotten with its last channel.
    quint64 openRequest(const MessagePayload& request);
    quint64 openChannel(quint64 request);
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
        MacAddress mac; // the device a change or reset was sent to
        int channels = 0;
        bool settled = false; // its change or reset answer is in
        QStringList warned;   // the causes of warning() already reported for it
    };
    struct Inbound
    {
        std::unique_ptr<Frame> msg;
        DatagramOrigin origin;
        quint64 request = 0;
    };

    void readSocket();
    void readBatch(QUdpSocket* socket, int maxDatagrams = kReadBatchDatagrams,
                   qint64 maxMs = kReadBatchMs);
    void restartCountdown(QUdpSocket* socket, int read);
    void scheduleRead(QUdpSocket* socket, int delayMs);
    // Emits warning("<cause>: <detail>") unless the channel's request has reported the
    // cause already.
    void warnOnce(quint64 channel, const QString& cause, const QString& detail);
    void handleAnswer(const Inbound& answer);
    QList<QUdpSocket*> getUdpSockets() const;
    quint64 bcastCommand(MessagePayload* payload) const;
    void sendFrame(QUdpSocket* socket, const QByteArray& frame);
    void repeatEnquiry(QUdpSocket* socket, QTimer* countdown, quint64 channel,
                       const QByteArray& frame);
    bool isAskedFor(const Request& request, const Frame& answer) const;
    void deliverInbox();

    // Holds the sockets (and their timers) of requests still listening. They end
    // themselves when their period runs out; whatever still listens when the adapter
    // goes is closed with it rather than left to leak.
    QObject m_requests;
    QHash<quint64, Request> m_requestsById;
    QHash<quint64, quint64> m_channels; // channel -> request
    quint64 m_lastRequest = 0;
    quint64 m_lastChannel = 0;
    SenderReassembler m_reassembler{kDefaultTimeoutMs};
    QElapsedTimer m_clock;
    // Answers read and not yet reported. Receivers may open modal boxes (a nested event
    // loop in which sockets expire and this adapter may be destroyed), so no signal is
    // emitted while a socket is being read.
    std::deque<Inbound> m_inbox;
    bool m_deliveryQueued = false;
    bool m_sending = false; // a socket error now is reported as the send's own
    int m_timeoutPeriod = kDefaultTimeoutMs;
    QStringList m_interfaceFilter;
};

} // namespace corla
