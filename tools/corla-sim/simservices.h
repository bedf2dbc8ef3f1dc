// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The TCP side of the simulated devices: port 21 (a file-transfer greeting, enough for a
// connection check) and port 80 (a small status page) on each device's own address.

#include "tools/corla-sim/simfleet.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>

#include <functional>

class QTcpServer;
class QTcpSocket;

namespace corla {

class SimServices : public QObject
{
    Q_OBJECT
public:
    // `device(index)` gives the device's present settings when a page is asked for.
    using DeviceLookup = std::function<const SimDevice*(int index)>;
    SimServices(DeviceLookup device, QObject* parent = nullptr);
    ~SimServices() override;

    // Opens what the device offers at its present address; a failed bind is reported in
    // `problems` and otherwise ignored (the port then counts as closed).
    void open(int index, QStringList* problems);
    void close(int index);
    // One port-21 listener on every local address, for burst fleets whose prefix is local.
    bool openWildcardFtp(QString* problem);

    static constexpr quint16 FtpPort = 21;
    static constexpr quint16 HttpPort = 80;

private:
    struct Listeners
    {
        QPointer<QTcpServer> ftp;
        QPointer<QTcpServer> http;
    };
    QTcpServer* listen(const QHostAddress& address, quint16 port, int index, QString* problem);
    void greet(QTcpSocket* socket, int index);
    void servePage(QTcpSocket* socket, int index);
    QByteArray page(int index) const;

    DeviceLookup m_device;
    QHash<int, Listeners> m_listeners;
    QPointer<QTcpServer> m_wildcardFtp;
};

} // namespace corla
