#include "tevpinghelper.h"
#include "corlalog.h"

TevPingResult TevPingHelper::pingHost(const TevIpAddr& address, unsigned int timeoutMs)
{
    const std::string text = address.toString();
    const CorlaEchoOutcome outcome = corlaIcmpEcho(text, timeoutMs);
    qCDebug(corlaNet).noquote() << composeDebugMessage(QString::fromStdString(text), outcome);
    return outcome.replyCount != 0 ? TevPingReplied : TevPingNoReply;
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
