// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tevpinghelper.h"
#include "corlalog.h"

#include <algorithm>

namespace {

// TevMacAddr keeps the last octet of the text form first; the neighbour table keeps wire
// order.
std::vector<CorlaLinkAddress> wireOrder(const QList<TevMacAddr>& macs)
{
    std::vector<CorlaLinkAddress> out;
    out.reserve(size_t(macs.size()));
    for (const TevMacAddr& mac : macs) {
        CorlaLinkAddress wire;
        std::reverse_copy(mac.octets().begin(), mac.octets().end(), wire.begin());
        out.push_back(wire);
    }
    return out;
}

} // namespace

TevPingResult TevPingHelper::pingHost(const TevIpAddr& address, unsigned int timeoutMs)
{
    const std::string text = address.toString();
    const CorlaEchoOutcome outcome = corlaIcmpEcho(text, timeoutMs);
    qCDebug(corlaNet).noquote() << composeDebugMessage(QString::fromStdString(text), outcome);
    return corlaEchoAnswered(outcome) ? TevPingReplied : TevPingNoReply;
}

QString TevPingHelper::composeDebugMessage(const QString& address, const CorlaEchoOutcome& outcome)
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

TevAddressUse TevPingHelper::addressInUse(const TevIpAddr& address, unsigned int timeoutMs,
                                          const QList<TevMacAddr>& disregard)
{
    const std::string text = address.toString();
    const CorlaInUse use = corlaAddressInUse(text, timeoutMs, wireOrder(disregard));
    qCDebug(corlaNet).noquote() << composeInUseMessage(QString::fromStdString(text), use);
    TevAddressUse result;
    result.result = use.inUse() ? TevPingReplied : TevPingNoReply;
    result.by = use.by;
    result.neighbourState = use.neighbour.state;
    result.neighbourStateName = QString::fromStdString(use.neighbour.stateName);
    TevMacAddr::parse(corlaLinkAddressText(use.neighbour), &result.mac);
    return result;
}

QString TevPingHelper::composeInUseMessage(const QString& address, const CorlaInUse& use)
{
    const QString state = QString::fromStdString(use.neighbour.stateName);
    const QString mac = QString::fromStdString(corlaLinkAddressText(use.neighbour));
    const QString as = mac.isEmpty() ? QString() : QStringLiteral(" as ") + mac;
    switch (use.by) {
    case CorlaInUseBy::Echo:
        return QStringLiteral("In use: %1 answers echo (from %2)%3")
            .arg(address, QString::fromStdString(use.echo.replySource), as);
    case CorlaInUseBy::LinkLayer:
        return use.neighbour.state == CorlaNeighbourState::Confirmed
                   ? QStringLiteral("In use: %1 answers ARP (%2)%3").arg(address, state, as)
                   : QStringLiteral("In use: %1 seen lately (%2)%3").arg(address, state, as);
    case CorlaInUseBy::Nobody:
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
