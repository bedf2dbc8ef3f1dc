#pragma once
// Shared by the codec and parser tests: hex literals, a one-line form of a decoded
// message, and capturing what the message layer writes to standard output.

#include "zecorla.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <string>
#include <unistd.h>
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

// Redirects file descriptor 1 into a temporary file until text() is called. Keep
// the window small: QtTest reports on standard output too.
class StdoutCapture
{
public:
    StdoutCapture() : m_file((std::fflush(stdout), std::tmpfile())), m_saved(dup(1))
    {
        dup2(fileno(m_file), 1);
    }
    ~StdoutCapture() { text(); }
    StdoutCapture(const StdoutCapture&) = delete;

    std::string text()
    {
        if (m_saved < 0)
            return m_text;
        std::fflush(stdout);
        dup2(m_saved, 1);
        close(m_saved);
        m_saved = -1;
        std::rewind(m_file);
        for (int c; (c = std::fgetc(m_file)) != EOF;)
            m_text += char(c);
        std::fclose(m_file);
        return m_text;
    }

private:
    std::FILE* m_file;
    int m_saved;
    std::string m_text;
};
