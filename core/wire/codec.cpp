// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/wire/codec.h"

#include "core/wire/crc.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace corla {

namespace {

ReportSink& reportSink()
{
    static ReportSink sink;
    return sink;
}

void report(const std::string& line)
{
    if (const ReportSink& sink = reportSink())
        sink(line);
}

// Reads a little-endian field; bytes the stream no longer has stay zero.
template <class T> T readLe(ByteStream* stream)
{
    uint8_t raw[sizeof(T)] = {};
    stream->read(reinterpret_cast<char*>(raw), sizeof(T));
    uint64_t v = 0;
    for (size_t i = sizeof(T); i-- > 0;)
        v = (v << 8) | raw[i];
    return static_cast<T>(v);
}

// Which fields the enquiry and change layouts hold after type, serial and MAC, in wire
// order: the response port (requests) or the error code (change answers), then the
// settings (all but the enquiry request).
struct IdentityLayout
{
    bool port = false;
    bool error = false;
    bool settings = false;

    IdentityLayout(uint8_t code, PayloadLayout layout)
    {
        const bool request = layout == PayloadLayout::Request;
        const bool change = code == MessageCode::ChangeNetwork;
        port = request;
        error = change && !request;
        settings = change || !request;
    }
    size_t size() const { return 9 + (port || error ? 2 : 0) + (settings ? 17 : 0); }
};

struct IdentityFields
{
    size_t size = 0; // payload bytes the message carried
    uint8_t deviceType = 0;
    uint16_t serialNo = 0;
    uint16_t portOrError = 0;
    NetworkSettings netInfo;
};

IdentityFields readIdentity(ByteStream* stream, const IdentityLayout& layout)
{
    IdentityFields f;
    f.size = size_t(stream->bytesAvailable());
    f.deviceType = readLe<uint8_t>(stream);
    f.serialNo = readLe<uint16_t>(stream);
    uint8_t mac[6] = {};
    stream->read(reinterpret_cast<char*>(mac), sizeof mac);
    if (layout.port || layout.error)
        f.portOrError = readLe<uint16_t>(stream);
    uint8_t mode = 0;
    uint32_t ip = 0, mask = 0, gateway = 0, dns = 0;
    if (layout.settings) {
        mode = readLe<uint8_t>(stream);
        ip = readLe<uint32_t>(stream);
        mask = readLe<uint32_t>(stream);
        gateway = readLe<uint32_t>(stream);
        dns = readLe<uint32_t>(stream);
    }
    f.netInfo = NetworkSettings(ip, mask, gateway, dns, mac, mode);
    return f;
}

void writeIdentity(ByteWriter& out, const IdentityPayload& p, const IdentityLayout& layout,
                   int16_t error)
{
    out.u8(p.deviceType());
    out.u16(p.serialNo());
    const NetworkSettings& info = p.netInfo();
    for (uint8_t octet : info.macAddress().octets())
        out.u8(octet);
    if (layout.port)
        out.u16(p.responsePort());
    if (layout.error)
        out.u16(uint16_t(error));
    if (layout.settings) {
        out.u8(uint8_t(info.addressMode()));
        out.u32(info.ipAddress().toInt());
        out.u32(info.subnetMask().toInt());
        out.u32(info.gateway().toInt());
        out.u32(info.dns().toInt());
    }
}

template <class T>
std::unique_ptr<T> decodeIdentity(ByteStream* stream, PayloadLayout layout, DecodeStatus* status,
                                  int16_t* error)
{
    const IdentityLayout fields(T().commandCode(), layout);
    const IdentityFields f = readIdentity(stream, fields);
    auto cmd = std::make_unique<T>(f.deviceType, f.serialNo, f.netInfo);
    cmd->setAnswerSize(f.size);
    if (fields.port)
        cmd->setResponsePort(f.portOrError);
    if (error)
        *error = static_cast<int16_t>(f.portOrError);
    if (status)
        *status = f.size < fields.size() ? DecodeStatus::Short : DecodeStatus::Complete;
    return cmd;
}

std::string readText(ByteStream* stream)
{
    std::string text(size_t(stream->bytesAvailable()), '\0');
    stream->read(text.data(), std::streamsize(text.size()));
    return text;
}

// "MAC=<mac>;PORT=<port>": six hex pairs joined by ':', a decimal port up to 65535.
bool scanResetRequest(const std::string& text, MacAddress* mac, uint16_t* port)
{
    const size_t macAt = 4, portAt = macAt + 17 + 6;
    if (text.size() <= portAt || text.size() > portAt + 5 || text.compare(0, macAt, "MAC=") != 0 ||
        text.compare(macAt + 17, 6, ";PORT=") != 0)
        return false;
    for (size_t colon = macAt + 2; colon < macAt + 17; colon += 3) {
        if (text[colon] != ':')
            return false;
    }
    unsigned long value = 0;
    for (size_t i = portAt; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return false;
        value = value * 10 + unsigned(text[i] - '0');
    }
    if (value > 0xFFFF || !MacAddress::parse(text.substr(macAt, 17), mac))
        return false;
    *port = uint16_t(value);
    return true;
}

// The answer's "MAC=XX:XX:XX:XX:XX:XX" from its first 21 bytes.
bool scanResetAnswer(ByteStream* stream, MacAddress* mac)
{
    char text[22] = {};
    stream->read(text, 21);
    unsigned pairs[6] = {};
    // %2x into unsigned int rather than %hhX: the Windows C library lacks hh.
    const int scanned = std::sscanf(text, "MAC=%2x:%2x:%2x:%2x:%2x:%2x", &pairs[0], &pairs[1],
                                    &pairs[2], &pairs[3], &pairs[4], &pairs[5]);
    if (scanned != 6)
        return false;
    uint8_t octets[6] = {};
    for (int i = 0; i < 6; ++i)
        octets[5 - i] = uint8_t(pairs[i]);
    *mac = MacAddress(octets);
    return true;
}

} // namespace

void setCorlaReportSink(ReportSink sink)
{
    reportSink() = std::move(sink);
}

std::vector<uint8_t> encodeFrame(uint8_t code, const uint8_t* payload, size_t n)
{
    if (n > MaxPayloadSize)
        return {};
    ByteWriter frame;
    frame.u8(FrameSyncByte);
    frame.u8(code);
    frame.u16(uint16_t(n));
    frame.bytes(payload, n);
    // 4 + n can exceed one calculateCrc call, so the CRC runs byte by byte.
    uint16_t crc = 0;
    for (uint8_t b : frame.data())
        crc = crcUpdate(b, crc);
    frame.u16(crc);
    return frame.take();
}

bool splitFrame(const uint8_t* data, size_t n, FrameParts* out)
{
    if (n < FrameHeaderSize + FrameCrcSize || data[0] != FrameSyncByte)
        return false;
    const size_t length = size_t(data[2]) | (size_t(data[3]) << 8);
    if (n != FrameHeaderSize + length + FrameCrcSize)
        return false;
    uint16_t crc = 0;
    for (size_t i = 0; i < FrameHeaderSize + length; ++i)
        crc = crcUpdate(data[i], crc);
    out->code = data[1];
    out->payload.assign(data + FrameHeaderSize, data + FrameHeaderSize + length);
    out->receivedCrc = uint16_t(data[n - 2] | (data[n - 1] << 8));
    out->crcMatches = out->receivedCrc == crc;
    return true;
}

MessagePayload::~MessagePayload() = default;

std::vector<uint8_t> encodeCorlaPayload(const MessagePayload& payload, PayloadLayout layout)
{
    ByteWriter out;
    payload.encode(out, layout);
    return out.take();
}

DecodeStatus decodeCorlaPayload(uint8_t code, PayloadLayout layout, const uint8_t* data, size_t n,
                                std::unique_ptr<MessagePayload>* out)
{
    ByteStream stream(data, n);
    DecodeStatus status = DecodeStatus::UnknownCode;
    switch (code) {
    case MessageCode::NetworkEnquiry:
        *out = EnquiryMessage::decode(&stream, layout, &status);
        break;
    case MessageCode::ChangeNetwork:
        *out = ChangeMessage::decode(&stream, layout, &status);
        break;
    case MessageCode::ResetDevice:
        *out = ResetMessage::decode(&stream, layout, &status);
        break;
    default:
        out->reset();
        break;
    }
    return status;
}

void EnquiryMessage::encode(ByteWriter& out, PayloadLayout layout) const
{
    writeIdentity(out, *this, IdentityLayout(commandCode(), layout), 0);
}

std::unique_ptr<EnquiryMessage> EnquiryMessage::decode(ByteStream* stream, PayloadLayout layout,
                                                       DecodeStatus* status)
{
    return decodeIdentity<EnquiryMessage>(stream, layout, status, nullptr);
}

void ChangeMessage::encode(ByteWriter& out, PayloadLayout layout) const
{
    writeIdentity(out, *this, IdentityLayout(commandCode(), layout), m_error);
}

std::unique_ptr<ChangeMessage> ChangeMessage::decode(ByteStream* stream, PayloadLayout layout,
                                                     DecodeStatus* status)
{
    int16_t error = 0;
    auto cmd = decodeIdentity<ChangeMessage>(stream, layout, status, &error);
    if (layout == PayloadLayout::Answer)
        cmd->setError(error);
    return cmd;
}

void ResetMessage::encode(ByteWriter& out, PayloadLayout layout) const
{
    std::string mac = m_macAddress.toString();
    if (layout == PayloadLayout::Answer) {
        std::transform(mac.begin(), mac.end(), mac.begin(),
                       [](char c) { return char(std::toupper(static_cast<unsigned char>(c))); });
        const std::string text = "MAC=" + mac;
        out.bytes(text.data(), text.size());
        return;
    }
    report(mac + ";" + std::to_string(responsePort()));
    const std::string text = "MAC=" + mac + ";PORT=" + std::to_string(responsePort());
    out.bytes(text.data(), text.size());
}

std::unique_ptr<ResetMessage> ResetMessage::decode(ByteStream* stream, PayloadLayout layout,
                                                   DecodeStatus* status)
{
    auto cmd = std::make_unique<ResetMessage>();
    bool wellFormed = false;
    if (layout == PayloadLayout::Request) {
        uint16_t port = 0;
        wellFormed = scanResetRequest(readText(stream), &cmd->m_macAddress, &port);
        cmd->setResponsePort(port);
    } else {
        wellFormed = scanResetAnswer(stream, &cmd->m_macAddress);
        report(cmd->m_macAddress.toString());
    }
    if (status)
        *status = wellFormed ? DecodeStatus::Complete : DecodeStatus::Malformed;
    return cmd;
}

Frame::~Frame() = default;

void Frame::serialize(uint64_t* size, uint8_t* buffer) const
{
    const std::vector<uint8_t> bytes = frame();
    if (!bytes.empty())
        std::memcpy(buffer + *size, bytes.data(), bytes.size());
    *size += bytes.size();
}

std::vector<uint8_t> Frame::frame(PayloadLayout layout) const
{
    if (!m_payload)
        return {};
    const std::vector<uint8_t> payload = encodeCorlaPayload(*m_payload, layout);
    return encodeFrame(m_payload->commandCode(), payload.data(), payload.size());
}

FrameParser::FrameParser() : FiniteStateMachine(asState(&FrameParser::st_sync))
{
    addEndState(asState(&FrameParser::st_endMsg));
}

FrameParser::~FrameParser() = default;

size_t FrameParser::drive(CircularByteBuffer& buffer, const MessageHandler& onMessage)
{
    MessageEvent event(buffer);
    size_t handedOn = 0;
    m_outOfData = false;
    do {
        dispatch(&event);
        if (isAtEndState()) {
            std::unique_ptr<Frame> msg = takeMessage();
            if (msg) {
                ++handedOn;
                if (onMessage)
                    onMessage(std::move(msg));
            }
        }
    } while (!m_outOfData);
    return handedOn;
}

bool FrameParser::isBetweenFrames() const
{
    return state() == asState(&FrameParser::st_sync) && m_sync != FrameSyncByte && m_owedCrc == 0;
}

size_t FrameParser::pendingFrameSize() const
{
    if (state() == asState(&FrameParser::st_readPayload))
        return FrameHeaderSize + m_length + FrameCrcSize;
    if (m_sync == FrameSyncByte)
        return FrameHeaderSize + FrameCrcSize;
    return m_owedCrc;
}

void FrameParser::expectCrc(const uint8_t* payload)
{
    uint16_t crc = 0;
    for (uint8_t b : {FrameSyncByte, m_code, uint8_t(m_length), uint8_t(m_length >> 8)})
        crc = crcUpdate(b, crc);
    for (uint16_t i = 0; i < m_length; ++i)
        crc = crcUpdate(payload[i], crc);
    m_expectedCrc[0] = uint8_t(crc);
    m_expectedCrc[1] = uint8_t(crc >> 8);
    m_owedCrc = FrameCrcSize;
}

void FrameParser::reset()
{
    m_message.reset();
    m_sync = 0;
    m_code = 0;
    m_length = 0;
    m_owedCrc = 0;
    m_outOfData = false;
    transition(asState(&FrameParser::st_sync));
}

void FrameParser::st_sync(const StateEvent* event)
{
    const auto* e = static_cast<const MessageEvent*>(event);
    while (m_owedCrc > 0 && e->bytesAvailable() > 0) {
        uint8_t b = 0;
        e->getn(1, &b);
        if (b == FrameSyncByte && b != m_expectedCrc[FrameCrcSize - m_owedCrc]) {
            m_owedCrc = 0;
            m_sync = b;
        } else {
            --m_owedCrc;
        }
    }
    // A sync byte found earlier is kept in m_sync until its header is complete, so
    // a frame whose header straddles two datagrams is not lost.
    while (m_sync != FrameSyncByte) {
        if (e->bytesAvailable() == 0) {
            m_outOfData = true;
            return;
        }
        e->getn(1, &m_sync);
    }
    if (e->bytesAvailable() < FrameHeaderSize - 1) {
        m_outOfData = true;
        return;
    }
    uint8_t rest[3];
    e->getn(3, rest);
    m_code = rest[0];
    m_length = uint16_t(rest[1] | (rest[2] << 8));
    m_sync = 0;
    transition(asState(&FrameParser::st_readPayload));
}

void FrameParser::st_readPayload(const StateEvent* event)
{
    const auto* e = static_cast<const MessageEvent*>(event);
    if (m_length > e->capacity()) {
        // Could never arrive whole: waiting for it would stall the parser for good.
        transition(asState(&FrameParser::st_sync));
        return;
    }
    if (e->bytesAvailable() < m_length) {
        m_outOfData = true;
        return;
    }
    m_payload.resize(m_length);
    e->getn(m_length, m_payload.data());

    const uint8_t* data = m_payload.data();
    expectCrc(data);
    std::unique_ptr<MessagePayload> payload;
    if (decodeCorlaPayload(m_code, PayloadLayout::Answer, data, m_length, &payload) ==
        DecodeStatus::UnknownCode) {
        report(std::string("Unknown Corla message received! Code=") + char(m_code));
        transition(asState(&FrameParser::st_sync));
        return;
    }
    m_message = std::make_unique<Frame>(std::move(payload));
    transition(asState(&FrameParser::st_crc));
}

void FrameParser::st_crc(const StateEvent* event)
{
    const auto* e = static_cast<const MessageEvent*>(event);
    // Devices are not held to their CRC: whatever of it has arrived is discarded, and
    // what has not is owed by the next bytes.
    uint8_t crc[FrameCrcSize];
    m_owedCrc = uint8_t(FrameCrcSize - e->getn(FrameCrcSize, crc));
    transition(asState(&FrameParser::st_endMsg));
}

void FrameParser::st_endMsg(const StateEvent*)
{
    transition(asState(&FrameParser::st_sync));
}

struct SenderReassembler::Stream
{
    FrameParser parser;
    CircularByteBuffer buffer{FrameParser::ReceiveBufferSize};
    Sender sender;
    int64_t lastHeardMs = 0;
    bool completedFrames = false; // the sender has completed a frame before

    bool isIdle() const { return parser.isBetweenFrames() && buffer.isEmpty(); }
    void reset()
    {
        parser.reset();
        buffer.clear();
        completedFrames = false;
    }
};

SenderReassembler::SenderReassembler(int64_t idleLimitMs) : m_idleLimitMs(idleLimitMs) {}

SenderReassembler::~SenderReassembler() = default;

std::unique_ptr<SenderReassembler::Stream> SenderReassembler::takeStream(const Sender& from,
                                                                         int64_t nowMs)
{
    for (auto it = m_partial.begin(); it != m_partial.end(); ++it) {
        if ((*it)->sender == from) {
            std::unique_ptr<Stream> stream = std::move(*it);
            m_partial.erase(it);
            return stream;
        }
    }
    std::unique_ptr<Stream> stream = m_spare ? std::move(m_spare) : std::make_unique<Stream>();
    const auto known = m_completed.find(from);
    stream->completedFrames = known != m_completed.end() && nowMs - known->second <= m_idleLimitMs;
    return stream;
}

void SenderReassembler::expire(int64_t nowMs)
{
    // Least recently heard first: the stale ones are at the front.
    size_t stale = 0;
    while (stale < m_partial.size() && nowMs - m_partial[stale]->lastHeardMs > m_idleLimitMs)
        ++stale;
    m_partial.erase(m_partial.begin(), m_partial.begin() + std::ptrdiff_t(stale));
}

void SenderReassembler::noteCompleted(const Sender& from, int64_t nowMs)
{
    const auto known = m_completed.find(from);
    if (known != m_completed.end()) {
        known->second = nowMs;
        return;
    }
    if (m_completed.size() >= MaxKnownSenders) {
        // The older half goes (all of the stale ones at least), so that this is rare.
        std::vector<int64_t> times;
        times.reserve(m_completed.size());
        for (const auto& entry : m_completed)
            times.push_back(entry.second);
        auto middle = times.begin() + std::ptrdiff_t(times.size() / 2);
        std::nth_element(times.begin(), middle, times.end());
        const int64_t cut = std::max(*middle, nowMs - m_idleLimitMs);
        for (auto it = m_completed.begin(); it != m_completed.end();)
            it = it->second <= cut ? m_completed.erase(it) : std::next(it);
    }
    m_completed.emplace(from, nowMs);
}

void SenderReassembler::makeRoom()
{
    // A sender that never completed a frame goes before one that did; the table is kept
    // least recently heard first, so the first of a kind is the one to go.
    auto victim =
        std::find_if(m_partial.begin(), m_partial.end(),
                     [](const std::unique_ptr<Stream>& s) { return !s->completedFrames; });
    m_partial.erase(victim != m_partial.end() ? victim : m_partial.begin());
}

size_t SenderReassembler::feed(const Sender& from, const uint8_t* data, size_t size, int64_t nowMs,
                               const FrameParser::MessageHandler& onMessage)
{
    expire(nowMs);
    std::unique_ptr<Stream> stream = takeStream(from, nowMs);
    size_t handed = 0;
    // A datagram larger than the buffer's free space goes in by parts, parsed in between.
    do {
        const uint64_t taken = stream->buffer.write(data, size);
        data += taken;
        size -= size_t(taken);
        handed += stream->parser.drive(stream->buffer, onMessage);
        if (taken == 0 && stream->buffer.isFull())
            break; // the parser could not make room: drop the rest
    } while (size > 0);
    if (handed > 0) {
        stream->completedFrames = true;
        noteCompleted(from, nowMs);
    }

    if (!stream->isIdle() && stream->parser.pendingFrameSize() <= MaxCarriedFrame) {
        stream->sender = from;
        stream->lastHeardMs = nowMs;
        if (m_partial.size() >= MaxPartialSenders)
            makeRoom();
        m_partial.push_back(std::move(stream));
        return handed;
    }
    stream->reset();
    if (!m_spare)
        m_spare = std::move(stream);
    return handed;
}

void SenderReassembler::dropPartialFrames(uint64_t channel)
{
    m_partial.erase(std::remove_if(m_partial.begin(), m_partial.end(),
                                   [channel](const std::unique_ptr<Stream>& s) {
                                       return s->sender.channel == channel;
                                   }),
                    m_partial.end());
}

void SenderReassembler::forgetChannel(uint64_t channel)
{
    dropPartialFrames(channel);
    for (auto it = m_completed.begin(); it != m_completed.end();)
        it = it->first.channel == channel ? m_completed.erase(it) : std::next(it);
}

} // namespace corla
