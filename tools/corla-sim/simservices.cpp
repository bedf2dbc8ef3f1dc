// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tools/corla-sim/simservices.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace corla {

namespace {

// A client that keeps a connection open longer than this is let go.
constexpr int IdleLimitMs = 30000;
constexpr int MaxRequestBytes = 16384;

QString text(Ipv4Address ip)
{
    return QString::fromStdString(ip.toString());
}

// A burst of probes at a thousand devices arrives within milliseconds, and a connection
// the accept queue has no room for is dropped and only retried a second later. QTcpServer
// always listens with a queue of 50, so the socket is made here with the kernel's ceiling.
int acceptQueueLength()
{
    QFile f(QStringLiteral("/proc/sys/net/core/somaxconn"));
    bool ok = false;
    const int length = f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toInt(&ok) : 0;
    return ok && length > SOMAXCONN ? length : SOMAXCONN;
}

// A listening IPv4 socket, or -1 with the reason in *problem.
int listeningSocket(const QHostAddress& address, quint16 port, QString* problem)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *problem = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(address.toIPv4Address());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(fd, acceptQueueLength()) != 0) {
        *problem = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return -1;
    }
    return fd;
}

void closeAfterIdle(QTcpSocket* socket)
{
    QTimer::singleShot(IdleLimitMs, socket, &QTcpSocket::disconnectFromHost);
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

} // namespace

SimServices::SimServices(DeviceLookup device, QObject* parent)
    : QObject(parent), m_device(std::move(device))
{}

SimServices::~SimServices() = default;

QTcpServer* SimServices::listen(const QHostAddress& address, quint16 port, int index,
                                QString* problem)
{
    QString why;
    const int fd = listeningSocket(address, port, &why);
    auto* server = new QTcpServer(this);
    if (fd < 0 || !server->setSocketDescriptor(fd)) {
        if (fd >= 0) {
            why = server->errorString();
            ::close(fd);
        }
        *problem =
            QStringLiteral("cannot listen on %1:%2: %3").arg(address.toString()).arg(port).arg(why);
        delete server;
        return nullptr;
    }
    connect(server, &QTcpServer::newConnection, this, [this, server, port, index] {
        while (QTcpSocket* socket = server->nextPendingConnection()) {
            closeAfterIdle(socket);
            if (port == HttpPort)
                servePage(socket, index);
            else
                greet(socket, index);
        }
    });
    return server;
}

void SimServices::open(int index, QStringList* problems)
{
    close(index);
    const SimDevice* d = m_device(index);
    const uint32_t ip = d->net.ipAddress().toInt();
    if (ip == 0)
        return;
    Listeners& l = m_listeners[index];
    QString problem;
    if (d->port21 && !(l.ftp = listen(QHostAddress(ip), FtpPort, index, &problem)))
        problems->append(problem);
    if (d->web && !(l.http = listen(QHostAddress(ip), HttpPort, index, &problem)))
        problems->append(problem);
}

void SimServices::close(int index)
{
    const Listeners l = m_listeners.take(index);
    delete l.ftp.data();
    delete l.http.data();
}

bool SimServices::openWildcardFtp(QString* problem)
{
    m_wildcardFtp = listen(QHostAddress::AnyIPv4, FtpPort, -1, problem);
    return m_wildcardFtp;
}

void SimServices::greet(QTcpSocket* socket, int index)
{
    const SimDevice* d = index >= 0 ? m_device(index) : nullptr;
    const QString who = d ? deviceName(*d) : QStringLiteral("simulated device");
    socket->write(QStringLiteral("220 %1 FTP service ready\r\n").arg(who).toUtf8());
    connect(socket, &QTcpSocket::readyRead, socket, [socket] {
        while (socket->canReadLine()) {
            const QByteArray line = socket->readLine().trimmed().toUpper();
            if (line.startsWith("QUIT")) {
                socket->write("221 Goodbye.\r\n");
                socket->disconnectFromHost();
                return;
            }
            socket->write("530 Not logged in.\r\n");
        }
        if (socket->bytesAvailable() > MaxRequestBytes)
            socket->abort();
    });
}

void SimServices::servePage(QTcpSocket* socket, int index)
{
    // The request is read whole (up to the blank line) before the page goes out.
    auto request = std::make_shared<QByteArray>();
    connect(socket, &QTcpSocket::readyRead, socket, [this, socket, index, request] {
        *request += socket->readAll();
        if (request->size() > MaxRequestBytes) {
            socket->abort();
            return;
        }
        if (!request->contains("\r\n\r\n") && !request->contains("\n\n"))
            return;
        const bool head = request->startsWith("HEAD ");
        const bool known = head || request->startsWith("GET ");
        const QByteArray body = known ? page(index) : QByteArray("Only GET and HEAD.\n");
        QByteArray reply = known ? "HTTP/1.0 200 OK\r\n" : "HTTP/1.0 405 Method Not Allowed\r\n";
        reply += known ? "Content-Type: text/html; charset=utf-8\r\n"
                       : "Content-Type: text/plain; charset=utf-8\r\n";
        reply += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        reply += "Connection: close\r\n\r\n";
        if (!head)
            reply += body;
        socket->write(reply);
        socket->disconnectFromHost();
    });
}

QByteArray SimServices::page(int index) const
{
    const SimDevice* d = m_device(index);
    const QString name = deviceName(*d).toHtmlEscaped();
    QString html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + name +
                   "</title></head>\n<body>\n<h1>" + name + "</h1>\n<table>\n";
    const QList<QPair<QString, QString>> rows = {
        {"Serial number", QString::number(d->serial)},
        {"MAC address", QString::fromStdString(d->net.macAddress().toString())},
        {"Address mode", addressModeName(d->net.addressMode())},
        {"IP address", text(d->net.ipAddress())},
        {"Subnet mask", text(d->net.subnetMask())},
        {"Gateway", text(d->net.gateway())},
        {"DNS server", text(d->net.dns())},
    };
    for (const auto& row : rows)
        html += "<tr><th>" + row.first + "</th><td>" + row.second.toHtmlEscaped() + "</td></tr>\n";
    html += "</table>\n<p>Simulated by corla-sim.</p>\n</body></html>\n";
    return html.toUtf8();
}

} // namespace corla
