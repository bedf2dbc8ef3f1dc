#include "zelconnectionchecker.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

ZelConnectionChecker::ZelConnectionChecker(QObject* parent) : QObject(parent)
{
    registerCorlaMetaTypes();
}

void ZelConnectionChecker::report(const TevDevice& device, ZelPort port, ZelNetworkStatus netStatus,
                                  ZelPortConnStatus connStatus)
{
    emit netHostStatus(device, port, netStatus);
    emit portStatus(device, port, connStatus);
}

void ZelConnectionChecker::checkPort(const TevDevice& device, ZelPort port)
{
    // Handlers keep the base part of the record only: that is all a receiver needs to
    // find its row, and it stays valid whatever happens to the caller's record.
    const TevDevice copy(device);
    const uint32_t ip = copy.netHostInfo().ipAddress().toInt();
    const QHostAddress host(ip);
    if (ip == 0 || host.isNull()) {
        report(copy, port, ZelNetworkStatus::NoIp, ZelPortConnStatus::Unavailable);
        return;
    }

    // Socket and timer end themselves. Every handler has the checker as context, and
    // both belong to the checker's holder object, so checks still running when the
    // checker goes are cut off and freed rather than left behind.
    auto* socket = new QTcpSocket(&m_checks);
    connect(socket, &QTcpSocket::connected, this, [this, socket, copy, port] {
        // The connection is never used; a close by the device before the deferred
        // deletion must not be reported as a failure after the success.
        disconnect(socket, &QAbstractSocket::errorOccurred, this, nullptr);
        report(copy, port, ZelNetworkStatus::Reachable, ZelPortConnStatus::Available);
    });
    connect(socket, &QTcpSocket::connected, socket, &QObject::deleteLater);
    connect(socket, &QAbstractSocket::errorOccurred, this, [this, copy, port] {
        report(copy, port, ZelNetworkStatus::Unreachable, ZelPortConnStatus::Unavailable);
    });
    connect(socket, &QAbstractSocket::errorOccurred, socket, &QObject::deleteLater);

    auto* timer = new QTimer(&m_checks);
    timer->setInterval(m_connectionTimeout);
    connect(timer, &QTimer::timeout, this, [this, copy, port] {
        report(copy, port, ZelNetworkStatus::Unreachable, ZelPortConnStatus::Unavailable);
    });
    connect(timer, &QTimer::timeout, timer, &QObject::deleteLater);
    connect(socket, &QTcpSocket::connected, timer, &QTimer::stop);
    connect(socket, &QTcpSocket::connected, timer, &QObject::deleteLater);

    socket->connectToHost(host, static_cast<quint16>(port), QIODevice::ReadWrite);
    timer->start();
}
