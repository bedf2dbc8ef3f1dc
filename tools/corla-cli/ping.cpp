// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tools/corla-cli/ping.h"

#include "core/fleet/settingsrules.h"
#include "core/net/addresscheck.h"
#include "core/net/addressinuse.h"
#include "tools/corla-cli/session.h"

#include <QCommandLineParser>
#include <QUdpSocket>

#include <cerrno>

namespace corla {

namespace {

const char* const Description =
    R"(Sends one ICMP echo request and waits at most --timeout ms for a reply. Without
an echo reply it tells why: a router on the way reports the host unreachable
(exit status 5), this computer has no route to the address (exit status 6), or
nothing came back (exit status 5); unless a host on a directly attached network
answers ARP at the address but drops echo requests, which many firewalls do
(exit status 7). With --interface the address must be routed through one of the
named interfaces (exit status 6 otherwise).)";

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

// The local address the system would send from to reach `target`. Connecting a UDP
// socket only chooses the route; nothing is sent.
QHostAddress sourceAddressFor(const Ipv4Address& target)
{
    QUdpSocket socket;
    socket.connectToHost(QHostAddress(target.toInt()), 9);
    if (!socket.waitForConnected(1000))
        return QHostAddress();
    return socket.localAddress();
}

} // namespace

PingCommand::PingCommand()
    : Command({"ping", "ping IP", "send one ICMP echo request to an address", "ping IP",
               "Send one ICMP echo request to this address.", Description},
              {QCommandLineOption("timeout",
                                  "Milliseconds to wait for the echo reply (default 1000).", "ms")},
              {{CliExit::Ok, "the address answered"},
               {CliExit::Usage, "usage error: bad arguments, a malformed address, or an unknown "
                                "interface\nname"},
               {CliExit::NoReply,
                "no reply within --timeout, or a router reports the host unreachable"},
               {CliExit::NoNetwork, "no route to the address (through the named interfaces)"},
               {CliExit::LinkOnly, "no echo reply, but a host answers ARP at the address"}})
{}

QString PingCommand::parse(const QCommandLineParser& parser, const QStringList& positional,
                           CliRequest* r) const
{
    QString why = CliCheck::oneArgument(positional, "an IPv4 address");
    if (why.isEmpty())
        why = checkIpText(positional.at(1), "ping", &r->target);
    if (why.isEmpty() && r->target.toInt() == 0)
        why = "ping: 0.0.0.0 is no address to send to";
    if (why.isEmpty())
        why = CliCheck::milliseconds(parser, "timeout", &r->timeoutMs);
    return why;
}

int PingCommand::run(CliSession& session, const CliRequest& request) const
{
    // The echo has its own route: no discovery address is needed.
    session.useInterfaces(request);
    const QString target = text(request.target.toString());
    if (!request.interfaces.isEmpty()) {
        const QHostAddress source = sourceAddressFor(request.target);
        if (source.isNull() || !session.adapter().localAddresses().contains(source)) {
            return session.fail(CliExit::NoNetwork,
                                QStringLiteral("%1 is not routed through %2")
                                    .arg(target, request.interfaces.join(QStringLiteral(", "))));
        }
    }
    const InUseFinding use =
        queryAddressInUse(request.target.toString(), uint32_t(request.timeoutMs));
    const EchoOutcome& echo = use.echo;
    if (echo.replyCount > 0 && echo.status == 0) {
        session.out() << QStringLiteral("%1 answered.").arg(target) << Qt::endl;
        return CliExit::Ok;
    }
    if (echo.replyCount > 0) {
        // An ICMP error quoting the request: someone on the way speaks for the address.
        const bool unreachable = echo.status >> 8 == 3;
        return session.fail(
            CliExit::NoReply,
            unreachable ? QStringLiteral("%1 is unreachable: %2 reports host unreachable")
                              .arg(target, text(echo.replySource))
                        : QStringLiteral("%1 did not answer: %2 reports ICMP type %3 code %4")
                              .arg(target, text(echo.replySource))
                              .arg(echo.status >> 8)
                              .arg(echo.status & 0xff));
    }
    if (use.by == InUseBy::LinkLayer) {
        return session.fail(
            CliExit::LinkOnly,
            QStringLiteral("%1 does not answer echo requests, but a host answers "
                           "ARP there as %2 (%3)")
                .arg(target, text(linkAddressText(use.neighbour)), text(use.neighbour.stateName)));
    }
    if (echo.errorCode == ENETUNREACH)
        return session.fail(CliExit::NoNetwork,
                            QStringLiteral("no route to %1 from this computer").arg(target));
    if (echo.errorCode == EHOSTUNREACH)
        return session.fail(CliExit::NoReply,
                            QStringLiteral("%1 is unreachable (host unreachable)").arg(target));
    return session.fail(
        CliExit::NoReply,
        QStringLiteral("no reply from %1 within %2 ms").arg(target).arg(request.timeoutMs));
}

} // namespace corla
