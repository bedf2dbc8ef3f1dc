// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Shared by the codec and parser tests: hex literals and a one-line form of a decoded
// message.

#include "core/wire/codec.h"

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

namespace corla {

inline std::vector<uint8_t> hexBytes(const char* hex)
{
    const QByteArray raw = QByteArray::fromHex(QByteArray(hex));
    return std::vector<uint8_t>(raw.begin(), raw.end());
}

inline QByteArray toHex(const std::vector<uint8_t>& bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()))
        .toHex()
        .toUpper();
}

// Code letter, then every decoded field: "W type serial mac mode ip mask gateway dns",
// a request adds "port N" (when not 0), a change message "err N"; a reset has its MAC.
inline QString describe(const Frame& msg)
{
    const MessagePayload* p = msg.payload();
    QString s = p ? QString(QChar(p->commandCode())) : QString("no payload");
    const QString port = p && p->responsePort() ? QString(" port %1").arg(p->responsePort()) : "";
    if (auto* r = msg.payloadAs<ResetMessage>())
        return s + " " + QString::fromStdString(r->macAddress().toString()) + port;
    if (auto* d = dynamic_cast<const IdentityPayload*>(p)) {
        const NetworkSettings& n = d->netInfo();
        s += QString(" %1 %2 ").arg(d->deviceType()).arg(d->serialNo()) +
             QString::fromStdString(n.macAddress().toString() + " " +
                                    std::to_string(n.addressMode()) + " " +
                                    n.ipAddress().toString() + " " + n.subnetMask().toString() +
                                    " " + n.gateway().toString() + " " + n.dns().toString());
    }
    s += port;
    if (auto* c = msg.payloadAs<ChangeMessage>())
        s += QString(" err %1").arg(c->error());
    return s;
}

} // namespace corla
