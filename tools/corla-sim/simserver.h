// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The simulated devices at work: one UDP socket on the discovery port hears every
// broadcast request, the devices it concerns answer to the request's source address at
// the response port it carries, and accepted settings take effect at once (addresses and
// TCP listeners move with them).

#include "tools/corla-sim/simaddresses.h"
#include "tools/corla-sim/simfleet.h"
#include "tools/corla-sim/simservices.h"
#include "tools/corla-sim/simwire.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QQueue>
#include <QTimer>

class QUdpSocket;
class QNetworkDatagram;

namespace corla {

struct SimOptions
{
    quint16 port = 62726;
    int resetSilenceMs = 5000;
    int delayMs = 0; // before answering
    int rate = 4000; // answer datagrams per second; 0 sends them all at once
    bool tcp = true; // port 21 and 80 listeners
    // A second socket answers every enquiry too, ahead of the devices, with rogueDatagrams().
    bool rogueSender = false;
    // A forging sender answers ahead of the devices (see SimForge).
    SimForge forge;
    bool quiet = false;
    Ipv4Address dhcpFirst = Ipv4Address("10.10.0.100");
    Ipv4Address dhcpLast = Ipv4Address("10.10.0.149");
    SimFaults faults;
};

class SimServer : public QObject
{
    Q_OBJECT
public:
    SimServer(const SimOptions& options, const SimFleet& fleet, SimAddresses* addresses,
              QObject* parent = nullptr);
    ~SimServer() override;

    // Binds the discovery port, puts the addresses in place and opens the listeners.
    // Problems with single listeners are reported through `warnings`.
    bool start(QString* why, QStringList* warnings);
    int deviceCount() const { return m_fleet.size(); }

private:
    struct Outgoing
    {
        QByteArray datagram;
        QHostAddress to;
        quint16 port;
        QUdpSocket* socket; // the discovery socket, the rogue sender's or a forger's
        // --forge macs:N: instead of `datagram`, the invented devices' answers from
        // number `next` up to `end`, each made as it goes out.
        int next = 0;
        int end = 0;
    };
    // The forger's socket on a device-side subnet, at an address of its own there.
    struct Forger
    {
        QHostAddress subnet;
        int prefixLength;
        QUdpSocket* socket;
    };
    struct Runtime
    {
        qint64 silentUntil = 0; // m_clock time
        int generation = 0;     // bumped by every reset and change, to drop stale reopenings
    };

    void readPending();
    void startForgers(QStringList* warnings);
    QList<QByteArray> forge(const SimRequest& request, int ifaceIndex) const;
    QUdpSocket* forgerFor(const QHostAddress& to) const;
    void handle(const QNetworkDatagram& datagram);
    QString enquire(const SimRequest& request, int ifaceIndex, QList<QByteArray>* answers);
    QString change(const SimRequest& request, int ifaceIndex, QList<QByteArray>* answers);
    QString reset(const SimRequest& request, int ifaceIndex, QList<QByteArray>* answers);
    void applySettings(int index, const NetworkSettings& requested);
    Ipv4Address leaseFor(int index) const;
    void moveAddress(int index, const NetworkSettings& from);
    void openServices(int index);

    // The device with this MAC that hears requests now (index -1 and the reason if none).
    QString findListening(const MacAddress& mac, int ifaceIndex, int* index) const;
    bool hears(int index, int ifaceIndex) const;
    bool isSilent(int index) const;
    void send(const QList<QByteArray>& answers, const QHostAddress& to, quint16 port, bool rogue,
              const QList<QByteArray>& forged, int inventedDevices);
    void pace();
    void log(const QString& line) const;

    SimOptions m_options;
    SimFleet m_fleet;
    QVector<Runtime> m_runtime;
    QHash<QString, int> m_ifaceIndex; // device-side interface name -> index, those present
    QHash<QByteArray, int> m_byMac;   // six octets -> fleet index
    SimAddresses* m_addresses;
    SimServices m_services;
    QUdpSocket* m_socket = nullptr;
    QUdpSocket* m_rogue = nullptr;  // --rogue-sender only
    QVector<Forger> m_forgers;      // --forge with --manage-addresses
    QUdpSocket* m_forger = nullptr; // --forge: a port of its own, for any other requester
    QElapsedTimer m_clock;

    QQueue<Outgoing> m_queue;
    QTimer m_pacer;
    double m_tokens = 0;
    qint64 m_lastRefill = 0;
};

} // namespace corla
