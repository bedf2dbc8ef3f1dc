// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Shared by the codec and parser tests: hex literals, a one-line form of a decoded
// message, and silencing what the message layer writes to standard output.

#include "zecorla.h"

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

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
// the change answer adds "err N", the reset answer has only its MAC.
inline QString describe(const ZelCorlaCommand& msg)
{
    const ZelCorlaCommandPayload* p = msg.payload();
    QString s = p ? QString(QChar(p->commandCode())) : QString("no payload");
    if (auto* r = msg.payloadAs<ZelResetDeviceCmd>())
        return s + " " + QString::fromStdString(r->macAddress().toString());
    if (auto* d = dynamic_cast<const ZelDeviceIdentityPayload*>(p)) {
        const TevNetHostInfo& n = d->netInfo();
        s += QString(" %1 %2 ").arg(d->deviceType()).arg(d->serialNo()) +
             QString::fromStdString(n.macAddress().toString() + " " +
                                    std::to_string(n.addressMode()) + " " +
                                    n.ipAddress().toString() + " " + n.subnetMask().toString() +
                                    " " + n.gateway().toString() + " " + n.dns().toString());
    }
    if (auto* c = msg.payloadAs<ZelChangeNetworkCmd>())
        s += QString(" err %1").arg(c->error());
    return s;
}

// Keeps the message layer's report lines off standard output while it lives.
class ReportCapture
{
public:
    ReportCapture()
    {
        setCorlaReportSink([](const std::string&) {});
    }
    ~ReportCapture() { setCorlaReportSink({}); }
    ReportCapture(const ReportCapture&) = delete;
    ReportCapture& operator=(const ReportCapture&) = delete;
};
