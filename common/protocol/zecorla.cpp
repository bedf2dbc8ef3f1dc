// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "zecorla.h"

#include "crc.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

CorlaReportSink& reportSink()
{
    static CorlaReportSink sink;
    return sink;
}

void report(const std::string& line)
{
    if (const CorlaReportSink& sink = reportSink())
        sink(line);
    else
        std::printf("%s\n", line.c_str());
}

// Little-endian field writer over a caller's buffer, advancing the caller's counter.
class FieldWriter
{
public:
    FieldWriter(uint64_t* size, uint8_t* buffer) : m_size(size), m_buffer(buffer) {}

    void u8(uint8_t v) { m_buffer[(*m_size)++] = v; }
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
    void mac(const TevMacAddr& mac)
    {
        for (uint8_t o : mac.octets())
            u8(o);
    }
    void bytes(const char* text, size_t n)
    {
        std::memcpy(m_buffer + *m_size, text, n);
        *m_size += n;
    }

private:
    uint64_t* m_size;
    uint8_t* m_buffer;
};

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

// The fields the enquiry and change answers share, in wire order around the
// one field in which they differ (nothing in the enquiry, the error code in the change).
struct AnswerFields
{
    size_t size = 0; // payload bytes the answer carried
    uint8_t deviceType = 0;
    uint16_t serialNo = 0;
    uint8_t mac[6] = {};
    int16_t error = 0;
    TevNetHostInfo netInfo;
};

AnswerFields readAnswer(ByteStream* stream, bool withErrorCode)
{
    AnswerFields f;
    f.size = size_t(stream->bytesAvailable());
    f.deviceType = readLe<uint8_t>(stream);
    f.serialNo = readLe<uint16_t>(stream);
    stream->read(reinterpret_cast<char*>(f.mac), sizeof f.mac);
    if (withErrorCode)
        f.error = static_cast<int16_t>(readLe<uint16_t>(stream));
    const uint8_t mode = readLe<uint8_t>(stream);
    const uint32_t ip = readLe<uint32_t>(stream);
    const uint32_t mask = readLe<uint32_t>(stream);
    const uint32_t gateway = readLe<uint32_t>(stream);
    const uint32_t dns = readLe<uint32_t>(stream);
    f.netInfo = TevNetHostInfo(ip, mask, gateway, dns, f.mac, mode);
    return f;
}

void writeHeadOfRequest(FieldWriter& w, const ZelDeviceIdentityPayload& p)
{
    w.u8(p.deviceType());
    w.u16(p.serialNo());
    w.mac(p.netInfo().macAddress());
    w.u16(p.responsePort());
}

} // namespace

void setCorlaReportSink(CorlaReportSink sink)
{
    reportSink() = std::move(sink);
}

std::vector<uint8_t> encodeCorlaFrame(uint8_t code, const uint8_t* payload, size_t n)
{
    if (n > CorlaMaxPayload)
        return {};
    std::vector<uint8_t> frame;
    frame.reserve(CorlaHeaderSize + n + CorlaCrcSize);
    frame.push_back(CorlaSyncByte);
    frame.push_back(code);
    frame.push_back(uint8_t(n));
    frame.push_back(uint8_t(n >> 8));
    if (n > 0)
        frame.insert(frame.end(), payload, payload + n);
    // 4 + n can exceed one calculateCrc call, so the CRC runs byte by byte.
    uint16_t crc = 0;
    for (uint8_t b : frame)
        crc = crcUpdate(b, crc);
    frame.push_back(uint8_t(crc));
    frame.push_back(uint8_t(crc >> 8));
    return frame;
}

bool splitCorlaFrame(const uint8_t* data, size_t n, CorlaFrame* out)
{
    if (n < CorlaHeaderSize + CorlaCrcSize || data[0] != CorlaSyncByte)
        return false;
    const size_t length = size_t(data[2]) | (size_t(data[3]) << 8);
    if (n != CorlaHeaderSize + length + CorlaCrcSize)
        return false;
    uint16_t crc = 0;
    for (size_t i = 0; i < CorlaHeaderSize + length; ++i)
        crc = crcUpdate(data[i], crc);
    out->code = data[1];
    out->payload.assign(data + CorlaHeaderSize, data + CorlaHeaderSize + length);
    out->receivedCrc = uint16_t(data[n - 2] | (data[n - 1] << 8));
    out->crcMatches = out->receivedCrc == crc;
    return true;
}

ZelCorlaCommandPayload::~ZelCorlaCommandPayload() = default;

void ZelNetworkEnqireCmd::serialize(uint64_t* size, uint8_t* buffer) const
{
    FieldWriter w(size, buffer);
    writeHeadOfRequest(w, *this);
}

std::unique_ptr<ZelNetworkEnqireCmd> ZelNetworkEnqireCmd::deserialize(ByteStream* stream)
{
    const AnswerFields f = readAnswer(stream, false);
    auto cmd = std::make_unique<ZelNetworkEnqireCmd>(f.deviceType, f.serialNo, f.netInfo);
    cmd->setAnswerSize(f.size);
    return cmd;
}

void ZelChangeNetworkCmd::serialize(uint64_t* size, uint8_t* buffer) const
{
    FieldWriter w(size, buffer);
    writeHeadOfRequest(w, *this);
    const TevNetHostInfo& info = netInfo();
    w.u8(uint8_t(info.addressMode()));
    w.u32(info.ipAddress().toInt());
    w.u32(info.subnetMask().toInt());
    w.u32(info.gateway().toInt());
    w.u32(info.dns().toInt());
}

std::unique_ptr<ZelChangeNetworkCmd> ZelChangeNetworkCmd::deserialize(ByteStream* stream)
{
    const AnswerFields f = readAnswer(stream, true);
    auto cmd = std::make_unique<ZelChangeNetworkCmd>(f.deviceType, f.serialNo, f.netInfo);
    cmd->setError(f.error);
    cmd->setAnswerSize(f.size);
    return cmd;
}

void ZelResetDeviceCmd::serialize(uint64_t* size, uint8_t* buffer) const
{
    const std::string mac = m_macAddress.toString();
    report(mac + ";" + std::to_string(responsePort()));
    char text[MaxRequestSize];
    const int n =
        std::snprintf(text, sizeof text, "MAC=%s;PORT=%d", mac.c_str(), int(responsePort()));
    FieldWriter w(size, buffer);
    w.bytes(text, size_t(std::clamp(n, 0, int(sizeof text) - 1)));
}

std::unique_ptr<ZelResetDeviceCmd> ZelResetDeviceCmd::deserialize(ByteStream* stream)
{
    char text[22] = {};
    stream->read(text, 21);
    unsigned pairs[6] = {};
    // %2x into unsigned int rather than %hhX: the Windows C library lacks hh.
    const int scanned = std::sscanf(text, "MAC=%2x:%2x:%2x:%2x:%2x:%2x", &pairs[0], &pairs[1],
                                    &pairs[2], &pairs[3], &pairs[4], &pairs[5]);
    uint8_t octets[6] = {};
    if (scanned == 6) {
        for (int i = 0; i < 6; ++i)
            octets[5 - i] = uint8_t(pairs[i]);
    }
    const TevMacAddr mac(octets);
    report(mac.toString());
    return std::make_unique<ZelResetDeviceCmd>(mac);
}

ZelCorlaCommand::~ZelCorlaCommand() = default;

void ZelCorlaCommand::serialize(uint64_t* size, uint8_t* buffer) const
{
    const std::vector<uint8_t> bytes = frame();
    if (!bytes.empty())
        std::memcpy(buffer + *size, bytes.data(), bytes.size());
    *size += bytes.size();
}

std::vector<uint8_t> ZelCorlaCommand::frame() const
{
    if (!m_payload)
        return {};
    uint8_t payload[ZelCorlaCommandPayload::MaxRequestSize];
    uint64_t n = 0;
    m_payload->serialize(&n, payload);
    return encodeCorlaFrame(m_payload->commandCode(), payload, size_t(n));
}

ZelCorlaProcessor::ZelCorlaProcessor() : FiniteStateMachine(asState(&ZelCorlaProcessor::st_sync))
{
    addEndState(asState(&ZelCorlaProcessor::st_endMsg));
}

ZelCorlaProcessor::~ZelCorlaProcessor() = default;

size_t ZelCorlaProcessor::drive(CircularByteBuffer& buffer, const MessageHandler& onMessage)
{
    CorlaMessageEvent event(buffer);
    size_t handedOn = 0;
    m_outOfData = false;
    do {
        dispatch(&event);
        if (isAtEndState()) {
            std::unique_ptr<ZelCorlaCommand> msg = takeMessage();
            if (msg) {
                ++handedOn;
                if (onMessage)
                    onMessage(std::move(msg));
            }
        }
    } while (!m_outOfData);
    return handedOn;
}

bool ZelCorlaProcessor::isBetweenFrames() const
{
    return state() == asState(&ZelCorlaProcessor::st_sync) && m_sync != CorlaSyncByte &&
           m_owedCrc == 0;
}

size_t ZelCorlaProcessor::pendingFrameSize() const
{
    if (state() == asState(&ZelCorlaProcessor::st_readPayload))
        return CorlaHeaderSize + m_length + CorlaCrcSize;
    if (m_sync == CorlaSyncByte)
        return CorlaHeaderSize + CorlaCrcSize;
    return m_owedCrc;
}

void ZelCorlaProcessor::expectCrc(const uint8_t* payload)
{
    uint16_t crc = 0;
    for (uint8_t b : {CorlaSyncByte, m_code, uint8_t(m_length), uint8_t(m_length >> 8)})
        crc = crcUpdate(b, crc);
    for (uint16_t i = 0; i < m_length; ++i)
        crc = crcUpdate(payload[i], crc);
    m_expectedCrc[0] = uint8_t(crc);
    m_expectedCrc[1] = uint8_t(crc >> 8);
    m_owedCrc = CorlaCrcSize;
}

void ZelCorlaProcessor::reset()
{
    m_message.reset();
    m_sync = 0;
    m_code = 0;
    m_length = 0;
    m_owedCrc = 0;
    m_outOfData = false;
    transition(asState(&ZelCorlaProcessor::st_sync));
}

void ZelCorlaProcessor::st_sync(const StateEvent* event)
{
    const auto* e = static_cast<const CorlaMessageEvent*>(event);
    while (m_owedCrc > 0 && e->bytesAvailable() > 0) {
        uint8_t b = 0;
        e->getn(1, &b);
        if (b == CorlaSyncByte && b != m_expectedCrc[CorlaCrcSize - m_owedCrc]) {
            m_owedCrc = 0;
            m_sync = b;
        } else {
            --m_owedCrc;
        }
    }
    // A sync byte found earlier is kept in m_sync until its header is complete, so
    // a frame whose header straddles two datagrams is not lost.
    while (m_sync != CorlaSyncByte) {
        if (e->bytesAvailable() == 0) {
            m_outOfData = true;
            return;
        }
        e->getn(1, &m_sync);
    }
    if (e->bytesAvailable() < CorlaHeaderSize - 1) {
        m_outOfData = true;
        return;
    }
    uint8_t rest[3];
    e->getn(3, rest);
    m_code = rest[0];
    m_length = uint16_t(rest[1] | (rest[2] << 8));
    m_sync = 0;
    transition(asState(&ZelCorlaProcessor::st_readPayload));
}

void ZelCorlaProcessor::st_readPayload(const StateEvent* event)
{
    const auto* e = static_cast<const CorlaMessageEvent*>(event);
    if (m_length > e->capacity()) {
        // Could never arrive whole: waiting for it would stall the parser for good.
        transition(asState(&ZelCorlaProcessor::st_sync));
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
    std::unique_ptr<ZelCorlaCommandPayload> payload;
    switch (m_code) {
    case ZelCorlaCode::NetworkEnquiry:
        payload = DeserializationFactory<ZelNetworkEnqireCmd>::create(data, m_length);
        break;
    case ZelCorlaCode::ChangeNetwork:
        payload = DeserializationFactory<ZelChangeNetworkCmd>::create(data, m_length);
        break;
    case ZelCorlaCode::ResetDevice:
        payload = DeserializationFactory<ZelResetDeviceCmd>::create(data, m_length);
        break;
    default:
        report(std::string("Unknown Corla message received! Code=") + char(m_code));
        transition(asState(&ZelCorlaProcessor::st_sync));
        return;
    }
    m_message = std::make_unique<ZelCorlaCommand>(std::move(payload));
    transition(asState(&ZelCorlaProcessor::st_crc));
}

void ZelCorlaProcessor::st_crc(const StateEvent* event)
{
    const auto* e = static_cast<const CorlaMessageEvent*>(event);
    // Devices are not held to their CRC: whatever of it has arrived is discarded, and
    // what has not is owed by the next bytes.
    uint8_t crc[CorlaCrcSize];
    m_owedCrc = uint8_t(CorlaCrcSize - e->getn(CorlaCrcSize, crc));
    transition(asState(&ZelCorlaProcessor::st_endMsg));
}

void ZelCorlaProcessor::st_endMsg(const StateEvent*)
{
    transition(asState(&ZelCorlaProcessor::st_sync));
}

struct ZelCorlaReassembler::Stream
{
    ZelCorlaProcessor parser;
    CircularByteBuffer buffer{ZelCorlaProcessor::ReceiveBufferSize};
    CorlaSender sender;
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

ZelCorlaReassembler::ZelCorlaReassembler(int64_t idleLimitMs) : m_idleLimitMs(idleLimitMs) {}

ZelCorlaReassembler::~ZelCorlaReassembler() = default;

std::unique_ptr<ZelCorlaReassembler::Stream>
ZelCorlaReassembler::takeStream(const CorlaSender& from, int64_t nowMs)
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

void ZelCorlaReassembler::expire(int64_t nowMs)
{
    // Least recently heard first: the stale ones are at the front.
    size_t stale = 0;
    while (stale < m_partial.size() && nowMs - m_partial[stale]->lastHeardMs > m_idleLimitMs)
        ++stale;
    m_partial.erase(m_partial.begin(), m_partial.begin() + std::ptrdiff_t(stale));
}

void ZelCorlaReassembler::noteCompleted(const CorlaSender& from, int64_t nowMs)
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

void ZelCorlaReassembler::makeRoom()
{
    // A sender that never completed a frame goes before one that did; the table is kept
    // least recently heard first, so the first of a kind is the one to go.
    auto victim =
        std::find_if(m_partial.begin(), m_partial.end(),
                     [](const std::unique_ptr<Stream>& s) { return !s->completedFrames; });
    m_partial.erase(victim != m_partial.end() ? victim : m_partial.begin());
}

size_t ZelCorlaReassembler::feed(const CorlaSender& from, const uint8_t* data, size_t size,
                                 int64_t nowMs, const ZelCorlaProcessor::MessageHandler& onMessage)
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

void ZelCorlaReassembler::dropPartialFrames(uint64_t channel)
{
    m_partial.erase(std::remove_if(m_partial.begin(), m_partial.end(),
                                   [channel](const std::unique_ptr<Stream>& s) {
                                       return s->sender.channel == channel;
                                   }),
                    m_partial.end());
}

void ZelCorlaReassembler::forgetChannel(uint64_t channel)
{
    dropPartialFrames(channel);
    for (auto it = m_completed.begin(); it != m_completed.end();)
        it = it->first.channel == channel ? m_completed.erase(it) : std::next(it);
}
