#include "zelconnectionchecker.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

ZelConnectionChecker::ZelConnectionChecker(QObject* parent) : QObject(parent)
{
    registerCorlaMetaTypes();
}

void ZelConnectionChecker::report(const TevDevice& device, ZelPort port, ZelNetworkStatus netStatus,
                                  ZelPortConnStatus connStatus)
{
    // A receiver may run a nested event loop (a modal box) in which this checker goes.
    const QPointer<ZelConnectionChecker> alive(this);
    emit netHostStatus(device, port, netStatus);
    if (alive)
        emit portStatus(device, port, connStatus);
}

void ZelConnectionChecker::reportLater(const TevDevice& device, ZelPort port,
                                       ZelNetworkStatus netStatus, ZelPortConnStatus connStatus)
{
    // Never from inside the socket's or the timer's own signal: a nested event loop
    // there could delete them while Qt is still in their code.
    QMetaObject::invokeMethod(
        this,
        [this, device, port, netStatus, connStatus] {
            report(device, port, netStatus, connStatus);
        },
        Qt::QueuedConnection);
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
        reportLater(copy, port, ZelNetworkStatus::Reachable, ZelPortConnStatus::Available);
    });
    connect(socket, &QTcpSocket::connected, socket, &QObject::deleteLater);
    connect(socket, &QAbstractSocket::errorOccurred, this, [this, copy, port] {
        reportLater(copy, port, ZelNetworkStatus::Unreachable, ZelPortConnStatus::Unavailable);
    });
    connect(socket, &QAbstractSocket::errorOccurred, socket, &QObject::deleteLater);

    auto* timer = new QTimer(&m_checks);
    timer->setInterval(m_connectionTimeout);
    connect(timer, &QTimer::timeout, this, [this, copy, port] {
        reportLater(copy, port, ZelNetworkStatus::Unreachable, ZelPortConnStatus::Unavailable);
    });
    connect(timer, &QTimer::timeout, timer, &QObject::deleteLater);
    connect(socket, &QTcpSocket::connected, timer, &QTimer::stop);
    connect(socket, &QTcpSocket::connected, timer, &QObject::deleteLater);

    socket->connectToHost(host, static_cast<quint16>(port), QIODevice::ReadWrite);
    timer->start();
}
