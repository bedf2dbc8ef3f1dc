// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tools/corla-sim/simwire.h"

#include "core/net/devicetypes.h"
#include "core/wire/codec.h"

#include <algorithm>
#include <cstdint>
#include <memory>

namespace corla {

namespace {

bool isUsableHost(uint32_t ip)
{
    return ip != 0 && isValidHostFirstOctet(uint8_t(ip >> 24));
}

// The answer layout of `payload`, cut to `size` bytes, framed.
QByteArray answerFrame(const MessagePayload& payload, size_t size = SIZE_MAX)
{
    const std::vector<uint8_t> bytes = encodeCorlaPayload(payload, PayloadLayout::Answer);
    const std::vector<uint8_t> frame =
        encodeFrame(payload.commandCode(), bytes.data(), std::min(size, bytes.size()));
    return QByteArray(reinterpret_cast<const char*>(frame.data()), int(frame.size()));
}

} // namespace

bool decodeRequest(uint8_t code, const std::vector<uint8_t>& payload, SimRequest* request,
                   QString* why)
{
    request->code = code;
    std::unique_ptr<MessagePayload> decoded;
    switch (decodeCorlaPayload(code, PayloadLayout::Request, payload.data(), payload.size(),
                               &decoded)) {
    case DecodeStatus::Complete:
        break;
    case DecodeStatus::Short:
        *why = QStringLiteral("%1 bytes, the request has %2")
                   .arg(payload.size())
                   .arg(code == MessageCode::NetworkEnquiry ? EnquiryMessage::RequestSize
                                                            : ChangeMessage::Size);
        return false;
    case DecodeStatus::Malformed:
        *why = QStringLiteral("text \"%1\" is not MAC=<mac>;PORT=<port>")
                   .arg(QString::fromLatin1(reinterpret_cast<const char*>(payload.data()),
                                            int(payload.size())));
        return false;
    case DecodeStatus::UnknownCode:
        *why = QStringLiteral("unknown code 0x%1").arg(code, 2, 16, QLatin1Char('0'));
        return false;
    }
    request->responsePort = decoded->responsePort();
    if (const auto* reset = dynamic_cast<const ResetMessage*>(decoded.get())) {
        request->mac = reset->macAddress();
        return true;
    }
    const auto& identity = static_cast<const IdentityPayload&>(*decoded);
    request->type = int8_t(identity.deviceType());
    request->serial = identity.serialNo();
    request->mac = identity.netInfo().macAddress();
    if (code == MessageCode::ChangeNetwork)
        request->requested = identity.netInfo();
    return true;
}

QByteArray corlaFrame(uint8_t code, const QByteArray& payload)
{
    const std::vector<uint8_t> frame = encodeFrame(
        code, reinterpret_cast<const uint8_t*>(payload.constData()), size_t(payload.size()));
    return QByteArray(reinterpret_cast<const char*>(frame.data()), int(frame.size()));
}

QByteArray enquiryAnswer(const SimDevice& device, bool withoutDns)
{
    const EnquiryMessage answer(uint8_t(device.type), device.serial, device.net);
    return answerFrame(answer, withoutDns ? EnquiryMessage::MinAnswerSize : SIZE_MAX);
}

QByteArray changeAnswer(const SimDevice& device, Refusal error)
{
    ChangeMessage answer(uint8_t(device.type), device.serial, device.net);
    answer.setError(int16_t(error));
    return answerFrame(answer);
}

QByteArray resetAnswer(const MacAddress& mac)
{
    return answerFrame(ResetMessage(mac));
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
    case MessageCode::NetworkEnquiry:
        if (device && !forge.enquiryMac.isNull()) {
            SimDevice twin = *device;
            twin.net.setGateway(Ipv4Address(ForgedRouter));
            twin.net.setDns(Ipv4Address(ForgedRouter));
            forged.append(enquiryAnswer(twin, false));
        }
        break;
    case MessageCode::ChangeNetwork: {
        // A device the simulator does not know is answered in the request's own terms.
        SimDevice named;
        named.type = request.type;
        named.serial = request.serial;
        named.net = request.requested;
        const SimDevice& basis = device ? *device : named;
        if (forge.accept) {
            SimDevice echo = basis;
            echo.net = request.requested;
            forged.append(changeAnswer(echo, Refusal::None));
        }
        const QByteArray refusal = changeAnswer(basis, ForgedRefusal);
        const int refusals = (forge.refuse ? 1 : 0) + forge.ackFlood;
        for (int i = 0; i < refusals; ++i)
            forged.append(refusal);
        break;
    }
    case MessageCode::ResetDevice: {
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
    invented.type = int8_t(DeviceType::TavioLF);
    invented.serial = uint16_t(n);
    const uint8_t mac[6] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24), 0xff,
                            0x02};
    const uint32_t ip = 0x0A800000u + n + 1u; // 10.128.0.0/9
    invented.net = NetworkSettings(ip, 0xFF800000u, 0x0A800001u, 0, mac, AddressModeStatic);
    return enquiryAnswer(invented, false);
}

QList<QByteArray> rogueDatagrams(const SimDevice& device)
{
    // The largest payload one IPv4 datagram can carry.
    constexpr int LargestUdpPayload = 65507;
    const QByteArray answer = enquiryAnswer(device, false);
    SimDevice moved = device;
    const uint32_t ip = device.net.ipAddress().toInt();
    moved.net.setIpAddress(Ipv4Address((ip & 0xFFFFFF00u) | ((ip & 0xFFu) == 222 ? 223u : 222u)));
    return {QByteArray("\x2A\x57\x80\x3E", 4),
            QByteArray(LargestUdpPayload, char(FrameSyncByte)),
            answer.left(answer.size() - int(FrameCrcSize)),
            changeAnswer(device, Refusal::BroadcastAddress),
            changeAnswer(moved, Refusal::None),
            resetAnswer(device.net.macAddress()),
            QByteArray("\x2A\x57\x64\x00", 4)};
}

Refusal judgeChange(const SimDevice& device, const NetworkSettings& requested)
{
    if (device.refuse != 0)
        return Refusal(device.refuse);
    const AddressMode mode = requested.addressMode();
    if (mode == AddressModeDhcp)
        return Refusal::None;
    if (mode != AddressModeStatic)
        return Refusal::InvalidMode;
    const uint32_t mask = requested.subnetMask().toInt();
    const uint32_t ip = requested.ipAddress().toInt();
    const uint32_t gateway = requested.gateway().toInt();
    if (mask == 0 || !isValidSubnetMask(mask))
        return Refusal::InvalidSubnet;
    if (ip == 0xFFFFFFFFu)
        return Refusal::BroadcastAddress;
    if (!isUsableHost(ip) || (ip & ~mask) == 0)
        return Refusal::InvalidAddress;
    if ((ip & ~mask) == ~mask)
        return Refusal::BroadcastAddress;
    if (device.net.addressMode() == AddressModeStatic && ip == device.net.ipAddress().toInt()) {
        // A change is broadcast from every local address of the sender, so a device on an
        // interface with two addresses hears it twice. The second copy asks for exactly the
        // settings the first one made; answering it as accepted keeps a successful change
        // from ending in a refusal.
        const NetworkSettings& now = device.net;
        const bool repeatOfMadeChange = requested.subnetMask() == now.subnetMask() &&
                                        requested.gateway() == now.gateway() &&
                                        requested.dns() == now.dns();
        return repeatOfMadeChange ? Refusal::None : Refusal::SameAddress;
    }
    if (gateway != 0 && ((gateway & mask) != (ip & mask) || gateway == ip ||
                         (gateway & ~mask) == 0 || (gateway & ~mask) == ~mask))
        return Refusal::InvalidGateway;
    return Refusal::None;
}

} // namespace corla
