// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/net/hostping.h"
#include "core/net/logging.h"

#include <algorithm>

namespace corla {

namespace {

// MacAddress keeps the last octet of the text form first; the neighbour table keeps wire
// order.
std::vector<LinkAddress> wireOrder(const QList<MacAddress>& macs)
{
    std::vector<LinkAddress> out;
    out.reserve(size_t(macs.size()));
    for (const MacAddress& mac : macs) {
        LinkAddress wire;
        std::reverse_copy(mac.octets().begin(), mac.octets().end(), wire.begin());
        out.push_back(wire);
    }
    return out;
}

} // namespace

PingResult HostPing::pingHost(const Ipv4Address& address, unsigned int timeoutMs)
{
    const std::string text = address.toString();
    const EchoOutcome outcome = icmpEcho(text, timeoutMs);
    qCDebug(logNet).noquote() << composeDebugMessage(QString::fromStdString(text), outcome);
    return echoAnswered(outcome) ? PingReplied : PingNoReply;
}

QString HostPing::composeDebugMessage(const QString& address, const EchoOutcome& outcome)
{
    if (outcome.replyCount == 0)
        return QStringLiteral("Call to IcmpSendEcho failed.\n") +
               QStringLiteral("IcmpSendEcho returned error: ") + QString::number(outcome.errorCode);
    QString text = QStringLiteral("Sent icmp message to ") + address + QStringLiteral("\n");
    if (outcome.replyCount == 1)
        text += QStringLiteral("Received ") + QStringLiteral("1") +
                QStringLiteral(" icmp message response \n");
    else
        text += QStringLiteral("Received ") + QString::number(outcome.replyCount) +
                QStringLiteral(" icmp message responses \n");
    text += QStringLiteral("Information from the first response: ");
    text += QStringLiteral("Received from ") + QString::fromStdString(outcome.replySource) +
            QStringLiteral("\n");
    text += QStringLiteral("Status = ") + QString::number(outcome.status);
    text += QStringLiteral("Roundtrip time = ") + QString::number(outcome.roundTripMs) +
            QStringLiteral(" milliseconds \n");
    return text;
}

AddressUse HostPing::addressInUse(const Ipv4Address& address, unsigned int timeoutMs,
                                  const QList<MacAddress>& disregard)
{
    const std::string text = address.toString();
    const InUseFinding use = queryAddressInUse(text, timeoutMs, wireOrder(disregard));
    qCDebug(logNet).noquote() << composeInUseMessage(QString::fromStdString(text), use);
    AddressUse result;
    result.result = use.inUse() ? PingReplied : PingNoReply;
    result.by = use.by;
    result.neighbourState = use.neighbour.state;
    result.neighbourStateName = QString::fromStdString(use.neighbour.stateName);
    MacAddress::parse(linkAddressText(use.neighbour), &result.mac);
    return result;
}

QString HostPing::composeInUseMessage(const QString& address, const InUseFinding& use)
{
    const QString state = QString::fromStdString(use.neighbour.stateName);
    const QString mac = QString::fromStdString(linkAddressText(use.neighbour));
    const QString as = mac.isEmpty() ? QString() : QStringLiteral(" as ") + mac;
    switch (use.by) {
    case InUseBy::Echo:
        return QStringLiteral("In use: %1 answers echo (from %2)%3")
            .arg(address, QString::fromStdString(use.echo.replySource), as);
    case InUseBy::LinkLayer:
        return use.neighbour.state == NeighbourState::Confirmed
                   ? QStringLiteral("In use: %1 answers ARP (%2)%3").arg(address, state, as)
                   : QStringLiteral("In use: %1 seen lately (%2)%3").arg(address, state, as);
    case InUseBy::Nobody:
        break;
    }
    // A router's ICMP error about the address: nobody there, whoever sent it.
    const QString why = use.echo.replyCount != 0
                            ? QStringLiteral("%1 reports ICMP type %2 code %3")
                                  .arg(QString::fromStdString(use.echo.replySource))
                                  .arg(use.echo.status >> 8)
                                  .arg(use.echo.status & 0xff)
                            : QStringLiteral("error %1").arg(use.echo.errorCode);
    if (use.linkAddressDisregarded)
        return QStringLiteral("Free: %1 gives no echo reply (%2); its link-layer address %3 (%4) "
                              "belongs to a device that answers elsewhere")
            .arg(address, why, mac, state);
    return QStringLiteral("Free: %1 gives no echo reply (%2) and no link-layer address%3")
        .arg(address, why, state.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(state));
}

} // namespace corla
