#pragma once
// ICMP echo for the duplicate-address check and the free-address search.

#include "icmpseam.h"
#include "tevnethost.h"

#include <QMetaType>
#include <QObject>
#include <QString>

#include <cstdint>

// Outcome of one echo. Callers treat TevPingReplied as "the address is in use" and
// anything else as "nobody answered".
enum TevPingResult : int32_t
{
    TevPingReplied = 1, // a reply (from the host, or an ICMP error about it) came in time
    TevPingNoReply = 3, // nothing came back within the limit, or sending failed
};

class TevPingHelper : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Sends one echo request and blocks until a reply or the limit. Safe on any thread.
    static TevPingResult pingHost(const TevIpAddr& address, unsigned int timeoutMs);

    // The debug message that pingHost writes for one echo to `address`.
    static QString composeDebugMessage(const QString& address, const CorlaEchoOutcome& outcome);
};

Q_DECLARE_METATYPE(TevPingResult)
