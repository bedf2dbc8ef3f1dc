// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "simwire.h"

#include "zecorla.h"
#include "zelutil.h"

#include <QRegularExpression>

namespace {

class Writer
{
public:
    void u8(uint8_t v) { m_bytes.append(char(v)); }
    void u16(uint16_t v)
    {
        u8(uint8_t(v));
        u8(uint8_t(v >> 8));
    }
    void u32(uint32_t v)
    {
        u16(uint16_t(v));
        u16(uint16_t(v >> 16));
    }
    // Type, serial number and MAC: how every binary answer begins.
    void identity(const SimDevice& device)
    {
        u8(uint8_t(device.type));
        u16(device.serial);
        for (uint8_t octet : device.net.macAddress().octets())
            u8(octet);
    }
    void settings(const TevNetHostInfo& net, bool withDns)
    {
        u8(uint8_t(net.addressMode()));
        u32(net.ipAddress().toInt());
        u32(net.subnetMask().toInt());
        u32(net.gateway().toInt());
        if (withDns)
            u32(net.dns().toInt());
    }
    const QByteArray& bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

class Reader
{
public:
    explicit Reader(const std::vector<uint8_t>& bytes) : m_bytes(bytes) {}
    uint8_t u8() { return m_bytes[m_at++]; }
    uint16_t u16()
    {
        const uint16_t low = u8();
        return uint16_t(low | (u8() << 8));
    }
    uint32_t u32()
    {
        const uint32_t low = u16();
        return low | (uint32_t(u16()) << 16);
    }
    TevMacAddr mac()
    {
        const TevMacAddr mac(&m_bytes[m_at]);
        m_at += 6;
        return mac;
    }

private:
    const std::vector<uint8_t>& m_bytes;
    size_t m_at = 0;
};

constexpr size_t EnquiryRequestSize = 11;
constexpr size_t ChangeRequestSize = 28;

bool isUsableHost(uint32_t ip)
{
    return ip != 0 && isValidHostFirstOctet(uint8_t(ip >> 24));
}

} // namespace

bool decodeRequest(uint8_t code, const std::vector<uint8_t>& payload, SimRequest* request,
                   QString* why)
{
    request->code = code;
    switch (code) {
    case ZelCorlaCode::NetworkEnquiry:
    case ZelCorlaCode::ChangeNetwork: {
        const size_t size =
            code == ZelCorlaCode::NetworkEnquiry ? EnquiryRequestSize : ChangeRequestSize;
        if (payload.size() < size) {
            *why = QStringLiteral("%1 bytes, the request has %2").arg(payload.size()).arg(size);
            return false;
        }
        Reader r(payload);
        request->type = int8_t(r.u8());
        request->serial = r.u16();
        request->mac = r.mac();
        request->responsePort = r.u16();
        if (code == ZelCorlaCode::ChangeNetwork) {
            const uint8_t mode = r.u8();
            const uint32_t ip = r.u32();
            const uint32_t mask = r.u32();
            const uint32_t gateway = r.u32();
            const uint32_t dns = r.u32();
            request->requested =
                TevNetHostInfo(ip, mask, gateway, dns, request->mac.octets().data(), mode);
        }
        return true;
    }
    case ZelCorlaCode::ResetDevice: {
        static const QRegularExpression form(
            QStringLiteral("^MAC=((?:[0-9A-Fa-f]{2}:){5}[0-9A-Fa-f]{2});PORT=(\\d{1,5})$"));
        const QString text =
            QString::fromLatin1(reinterpret_cast<const char*>(payload.data()), int(payload.size()));
        const QRegularExpressionMatch m = form.match(text);
        const uint port = m.hasMatch() ? m.captured(2).toUInt() : 0;
        if (!m.hasMatch() || port > 65535 ||
            !TevMacAddr::parse(m.captured(1).toStdString(), &request->mac)) {
            *why = QStringLiteral("text \"%1\" is not MAC=<mac>;PORT=<port>").arg(text);
            return false;
        }
        request->responsePort = uint16_t(port);
        return true;
    }
    default:
        *why = QStringLiteral("unknown code 0x%1").arg(code, 2, 16, QLatin1Char('0'));
        return false;
    }
}

QByteArray corlaFrame(uint8_t code, const QByteArray& payload)
{
    const std::vector<uint8_t> frame = encodeCorlaFrame(
        code, reinterpret_cast<const uint8_t*>(payload.constData()), size_t(payload.size()));
    return QByteArray(reinterpret_cast<const char*>(frame.data()), int(frame.size()));
}

QByteArray enquiryAnswer(const SimDevice& device, bool withoutDns)
{
    Writer w;
    w.identity(device);
    w.settings(device.net, !withoutDns);
    return corlaFrame(ZelCorlaCode::NetworkEnquiry, w.bytes());
}

QByteArray changeAnswer(const SimDevice& device, CorlaRefusal error)
{
    Writer w;
    w.identity(device);
    w.u16(uint16_t(error));
    w.settings(device.net, true);
    return corlaFrame(ZelCorlaCode::ChangeNetwork, w.bytes());
}

QByteArray resetAnswer(const TevMacAddr& mac)
{
    QString text = "MAC=";
    for (int i = 5; i >= 0; --i) {
        text += QStringLiteral("%1").arg(mac.octet(i), 2, 16, QLatin1Char('0')).toUpper();
        if (i > 0)
            text += ':';
    }
    return corlaFrame(ZelCorlaCode::ResetDevice, text.toLatin1());
}

QList<QByteArray> shapeAnswers(const QList<QByteArray>& frames, const SimFaults& faults)
{
    const QByteArray unknown = faults.unknownCode >= 0
                                   ? corlaFrame(uint8_t(faults.unknownCode), "corla-sim")
                                   : QByteArray();
    const int perDatagram = qMax(1, faults.framesPerDatagram);
    QList<QByteArray> datagrams;
    for (int i = 0; i < frames.size(); ++i) {
        if (i % perDatagram == 0)
            datagrams.append(QByteArray());
        datagrams.last() += faults.stray + unknown + frames.at(i);
    }
    QList<QByteArray> shaped;
    for (const QByteArray& datagram : datagrams) {
        QList<QByteArray> parts{datagram};
        if (faults.splitAt > 0 && datagram.size() > faults.splitAt)
            parts = {datagram.left(faults.splitAt), datagram.mid(faults.splitAt)};
        for (int copy = 0; copy < (faults.duplicate ? 2 : 1); ++copy)
            shaped += parts;
    }
    return shaped;
}

QList<QByteArray> forgedAnswers(const SimForge& forge, const SimRequest& request,
                                const SimDevice* device)
{
    QList<QByteArray> forged;
    switch (request.code) {
    case ZelCorlaCode::NetworkEnquiry:
        if (device && !forge.enquiryMac.isNull()) {
            SimDevice twin = *device;
            twin.net.setGateway(TevIpAddr(ForgedRouter));
            twin.net.setDns(TevIpAddr(ForgedRouter));
            forged.append(enquiryAnswer(twin, false));
        }
        break;
    case ZelCorlaCode::ChangeNetwork: {
        // A device the simulator does not know is answered in the request's own terms.
        SimDevice named;
        named.type = request.type;
        named.serial = request.serial;
        named.net = request.requested;
        const SimDevice& basis = device ? *device : named;
        if (forge.accept) {
            SimDevice echo = basis;
            echo.net = request.requested;
            forged.append(changeAnswer(echo, CorlaRefusal::None));
        }
        const QByteArray refusal = changeAnswer(basis, ForgedRefusal);
        const int refusals = (forge.refuse ? 1 : 0) + forge.ackFlood;
        for (int i = 0; i < refusals; ++i)
            forged.append(refusal);
        break;
    }
    case ZelCorlaCode::ResetDevice: {
        const QByteArray ack = resetAnswer(request.mac);
        for (int i = 0; i < forge.ackFlood; ++i)
            forged.append(ack);
        break;
    }
    }
    return forged;
}

QByteArray forgedDeviceAnswer(int index)
{
    const auto n = uint32_t(index);
    SimDevice invented;
    invented.type = int8_t(ZelDeviceType::TavioLF);
    invented.serial = uint16_t(n);
    const uint8_t mac[6] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24), 0xff,
                            0x02};
    const uint32_t ip = 0x0A800000u + n + 1u; // 10.128.0.0/9
    invented.net = TevNetHostInfo(ip, 0xFF800000u, 0x0A800001u, 0, mac, TevAddressModeManual);
    return enquiryAnswer(invented, false);
}

QList<QByteArray> rogueDatagrams(const SimDevice& device)
{
    // The largest payload one IPv4 datagram can carry.
    constexpr int LargestUdpPayload = 65507;
    const QByteArray answer = enquiryAnswer(device, false);
    SimDevice moved = device;
    const uint32_t ip = device.net.ipAddress().toInt();
    moved.net.setIpAddress(TevIpAddr((ip & 0xFFFFFF00u) | ((ip & 0xFFu) == 222 ? 223u : 222u)));
    return {QByteArray("\x2A\x57\x80\x3E", 4),
            QByteArray(LargestUdpPayload, char(CorlaSyncByte)),
            answer.left(answer.size() - int(CorlaCrcSize)),
            changeAnswer(device, CorlaRefusal::BroadcastAddress),
            changeAnswer(moved, CorlaRefusal::None),
            resetAnswer(device.net.macAddress()),
            QByteArray("\x2A\x57\x64\x00", 4)};
}

CorlaRefusal judgeChange(const SimDevice& device, const TevNetHostInfo& requested)
{
    if (device.refuse != 0)
        return CorlaRefusal(device.refuse);
    const TevAddressMode mode = requested.addressMode();
    if (mode == TevAddressModeAuto)
        return CorlaRefusal::None;
    if (mode != TevAddressModeManual)
        return CorlaRefusal::InvalidMode;
    const uint32_t mask = requested.subnetMask().toInt();
    const uint32_t ip = requested.ipAddress().toInt();
    const uint32_t gateway = requested.gateway().toInt();
    if (mask == 0 || !isValidSubnetMask(mask))
        return CorlaRefusal::InvalidSubnet;
    if (ip == 0xFFFFFFFFu)
        return CorlaRefusal::BroadcastAddress;
    if (!isUsableHost(ip) || (ip & ~mask) == 0)
        return CorlaRefusal::InvalidAddress;
    if ((ip & ~mask) == ~mask)
        return CorlaRefusal::BroadcastAddress;
    if (device.net.addressMode() == TevAddressModeManual && ip == device.net.ipAddress().toInt()) {
        // A change is broadcast from every local address of the sender, so a device on an
        // interface with two addresses hears it twice. The second copy asks for exactly the
        // settings the first one made; answering it as accepted keeps a successful change
        // from ending in a refusal.
        const TevNetHostInfo& now = device.net;
        const bool repeatOfMadeChange = requested.subnetMask() == now.subnetMask() &&
                                        requested.gateway() == now.gateway() &&
                                        requested.dns() == now.dns();
        return repeatOfMadeChange ? CorlaRefusal::None : CorlaRefusal::SameAddress;
    }
    if (gateway != 0 && ((gateway & mask) != (ip & mask) || gateway == ip ||
                         (gateway & ~mask) == 0 || (gateway & ~mask) == ~mask))
        return CorlaRefusal::InvalidGateway;
    return CorlaRefusal::None;
}
