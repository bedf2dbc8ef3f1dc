// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Discovery messages and their parser.
//
// Frame, both directions:  2A | code | length N (u16 LE) | N payload bytes | CRC (u16 LE)
// The CRC is CRC-16/ARC over everything before it. Each code has a request layout (what
// the program sends) and a different answer layout (what a device sends back); the codec
// encodes and decodes both, so that the device simulator speaks through it too. Integers
// are little-endian; IPv4 addresses travel as the little-endian form of their host-order
// value; MAC octet 0 goes first.
//
// The codec writes nothing anywhere: its few report lines go to the report sink below.
//
// Parser guarantees (FrameParser::drive):
//  - It never reads past the bytes in the buffer it is given, and it never waits for
//    more bytes than that buffer can hold: a frame announcing a payload larger than
//    the buffer's capacity is dropped and the search for the next sync byte resumes.
//  - Working memory is bounded by the largest payload that fits the buffer.
//  - Bytes that cannot start a frame are skipped; a sync byte is never discarded
//    while the rest of its header is still on its way, so a frame split anywhere
//    across datagrams is decoded once it is complete. CRC bytes that arrive after
//    their frame (split inside the CRC, or after an unknown code) are skipped too,
//    unless a byte is a sync byte that differs from the CRC the frame should have:
//    then a frame cut short is followed by a new one.
//  - Each decoded message is handed on exactly once; unknown codes are reported to the
//    report sink and skipped. The received CRC is not checked.
//  - Decoded fields for which the payload has no bytes are zero.

#include "core/wire/addresses.h"
#include "core/wire/bytestream.h"
#include "core/wire/circularbuffer.h"
#include "core/wire/statemachine.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace corla {

// The message layer's report lines: the reset request's identity as it is encoded
// ("<mac>;<port>"), the MAC of a decoded reset answer, an unknown code. They go to the
// sink set here and nowhere without one. Programs on Qt route them to the "corla.wire"
// debug lines (the discovery library installs that sink as it starts). Set it before any
// message is encoded or decoded; it is not guarded against threads.
using ReportSink = std::function<void(const std::string& line)>;
void setCorlaReportSink(ReportSink sink);

namespace MessageCode {
constexpr uint8_t NetworkEnquiry = 0x57; // 'W'
constexpr uint8_t ChangeNetwork = 0x58;  // 'X'
constexpr uint8_t ResetDevice = 0x59;    // 'Y'
} // namespace MessageCode

constexpr uint8_t FrameSyncByte = 0x2A;
constexpr size_t FrameHeaderSize = 4;
constexpr size_t FrameCrcSize = 2;
constexpr size_t MaxPayloadSize = 0xFFFF;

// Frames `n` payload bytes under `code`: sync, code, length, payload, CRC. Returns an
// empty vector when n exceeds what the length field can express.
std::vector<uint8_t> encodeFrame(uint8_t code, const uint8_t* payload, size_t n);

// One frame split into its parts, for code that reads whole datagrams (the device
// simulator, tests). Accepts exactly one frame filling the block.
struct FrameParts
{
    uint8_t code = 0;
    std::vector<uint8_t> payload;
    uint16_t receivedCrc = 0;
    bool crcMatches = false;
};
bool splitFrame(const uint8_t* data, size_t n, FrameParts* out);

// Which of a code's two payload layouts: what the program sends, or what a device sends.
enum class PayloadLayout : uint8_t
{
    Request,
    Answer,
};

// What decoding a payload found.
enum class DecodeStatus : uint8_t
{
    Complete,    // every field of the layout was there (bytes after them are ignored)
    Short,       // the payload ends early: the fields it lacks are zero
    Malformed,   // a reset text not of its form: the MAC (and port) are zero
    UnknownCode, // no layout for the code: no payload
};

class MessagePayload
{
public:
    // The largest request any payload of this file writes (the reset text is 32).
    static constexpr size_t MaxRequestSize = 64;

    virtual ~MessagePayload();
    virtual uint8_t commandCode() const = 0;
    // Appends the payload in `layout`; a request is never longer than MaxRequestSize.
    virtual void encode(ByteWriter& out, PayloadLayout layout) const = 0;

    // Requests only: the port the answers go to.
    uint16_t responsePort() const { return m_responsePort; }
    void setResponsePort(uint16_t port) { m_responsePort = port; }

private:
    uint16_t m_responsePort = 0;
};

// The bytes of `payload` in `layout`.
std::vector<uint8_t> encodeCorlaPayload(const MessagePayload& payload, PayloadLayout layout);
// Decodes n bytes as the payload of `code` in `layout`. Every status but UnknownCode
// stores a payload in *out (a short one with its missing fields zero).
DecodeStatus decodeCorlaPayload(uint8_t code, PayloadLayout layout, const uint8_t* data, size_t n,
                                std::unique_ptr<MessagePayload>* out);

// What the enquiry and the change messages both carry about one device.
class IdentityPayload : public MessagePayload
{
public:
    uint8_t deviceType() const { return m_deviceType; }
    // The device type is an opaque byte here; its meaning belongs to the device records.
    void setDeviceType(uint8_t type) { m_deviceType = type; }
    uint16_t serialNo() const { return m_serialNo; }
    void setSerialNo(uint16_t serial) { m_serialNo = serial; }
    const NetworkSettings& netInfo() const { return m_netInfo; }
    void setNetInfo(const NetworkSettings& info) { m_netInfo = info; }
    // How many payload bytes a decoded message carried (fields past them read as zero);
    // 0 for a payload built here.
    size_t answerSize() const { return m_answerSize; }
    void setAnswerSize(size_t size) { m_answerSize = size; }

protected:
    IdentityPayload() = default;
    IdentityPayload(uint8_t deviceType, uint16_t serialNo, const NetworkSettings& netInfo)
        : m_deviceType(deviceType), m_serialNo(serialNo), m_netInfo(netInfo)
    {}

private:
    uint8_t m_deviceType = 0;
    uint16_t m_serialNo = 0;
    NetworkSettings m_netInfo;
    size_t m_answerSize = 0;
};

class EnquiryMessage : public IdentityPayload
{
public:
    EnquiryMessage() = default;
    EnquiryMessage(uint8_t deviceType, uint16_t serialNo, const NetworkSettings& netInfo)
        : IdentityPayload(deviceType, serialNo, netInfo)
    {}

    uint8_t commandCode() const override { return MessageCode::NetworkEnquiry; }
    // Request: type, serial, MAC, response port (11 bytes); only the MAC of netInfo.
    // Answer: type, serial, MAC, mode, IP, mask, gateway, DNS (26 bytes).
    void encode(ByteWriter& out, PayloadLayout layout) const override;
    static std::unique_ptr<EnquiryMessage> decode(ByteStream* stream, PayloadLayout layout,
                                                  DecodeStatus* status = nullptr);
    static std::unique_ptr<EnquiryMessage> deserialize(ByteStream* stream)
    {
        return decode(stream, PayloadLayout::Answer);
    }

    static constexpr size_t RequestSize = 11;
    static constexpr size_t AnswerSize = 26;
    // The shortest answer that names a device and its address: everything up to the
    // gateway. Some devices leave out the DNS field (22 bytes); anything shorter lacks a
    // field that identifies the device or its address.
    static constexpr size_t MinAnswerSize = 22;
};

class ChangeMessage : public IdentityPayload
{
public:
    ChangeMessage() = default;
    ChangeMessage(uint8_t deviceType, uint16_t serialNo, const NetworkSettings& netInfo)
        : IdentityPayload(deviceType, serialNo, netInfo)
    {}

    uint8_t commandCode() const override { return MessageCode::ChangeNetwork; }
    // Request: type, serial, MAC, response port, mode, IP, mask, gateway, DNS (28 bytes).
    // Answer: as the request, with the device's error code (i16) in place of the port.
    void encode(ByteWriter& out, PayloadLayout layout) const override;
    static std::unique_ptr<ChangeMessage> decode(ByteStream* stream, PayloadLayout layout,
                                                 DecodeStatus* status = nullptr);
    static std::unique_ptr<ChangeMessage> deserialize(ByteStream* stream)
    {
        return decode(stream, PayloadLayout::Answer);
    }

    static constexpr size_t Size = 28;

    // Answers only: 0 accepted, -1 device error, 1..6 the reasons the adapter spells out.
    int16_t error() const { return m_error; }
    void setError(int16_t error) { m_error = error; }

private:
    int16_t m_error = 0;
};

class ResetMessage : public MessagePayload
{
public:
    ResetMessage() = default;
    explicit ResetMessage(const MacAddress& mac) : m_macAddress(mac) {}

    uint8_t commandCode() const override { return MessageCode::ResetDevice; }
    // Request: the text "MAC=<mac>;PORT=<port>" (MAC in lower case, port in decimal)
    // without a terminating zero; decoding accepts hex digits of either case and nothing
    // before or after.
    // Answer: the text "MAC=XX:XX:XX:XX:XX:XX" (written in upper case); decoding scans its
    // first 21 bytes, MAC zero when they do not scan.
    void encode(ByteWriter& out, PayloadLayout layout) const override;
    static std::unique_ptr<ResetMessage> decode(ByteStream* stream, PayloadLayout layout,
                                                DecodeStatus* status = nullptr);
    static std::unique_ptr<ResetMessage> deserialize(ByteStream* stream)
    {
        return decode(stream, PayloadLayout::Answer);
    }

    const MacAddress& macAddress() const { return m_macAddress; }
    void setMacAddress(const MacAddress& mac) { m_macAddress = mac; }

private:
    MacAddress m_macAddress;
};

// One frame around one payload. Requests built on the stack wrap a payload they do
// not own; decoded messages own theirs.
class Frame
{
public:
    explicit Frame(MessagePayload* payload) : m_payload(payload) {}
    explicit Frame(std::unique_ptr<MessagePayload> payload)
        : m_payload(payload.get()), m_owned(std::move(payload))
    {}
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    // Appends the whole request frame at buffer + *size and advances *size by its length
    // (at most MaxRequestSize + 6 bytes).
    virtual void serialize(uint64_t* size, uint8_t* buffer) const;
    virtual ~Frame();

    // The whole frame in `layout`; empty without a payload.
    std::vector<uint8_t> frame(PayloadLayout layout = PayloadLayout::Request) const;
    MessagePayload* payload() const { return m_payload; }
    template <class T> const T* payloadAs() const { return dynamic_cast<const T*>(m_payload); }

private:
    MessagePayload* m_payload;
    std::unique_ptr<MessagePayload> m_owned;
};

class MessageEvent : public StateEvent
{
public:
    explicit MessageEvent(CircularByteBuffer& buffer) : m_buffer(buffer) {}

    uint64_t bytesAvailable() const { return m_buffer.count(); }
    uint64_t capacity() const { return m_buffer.capacity(); }
    uint64_t getn(uint64_t n, uint8_t* destination) const { return m_buffer.read(destination, n); }

private:
    CircularByteBuffer& m_buffer;
};

class FrameParser : public FiniteStateMachine
{
public:
    // The receive buffer the adapter pours datagrams into. A frame announcing a
    // longer payload cannot arrive whole and is dropped.
    static constexpr uint64_t ReceiveBufferSize = 16384;

    using MessageHandler = std::function<void(std::unique_ptr<Frame>)>;

    FrameParser();
    ~FrameParser();

    // Clears outOfData, then dispatches until the buffer can give no more, handing
    // every completed message to `onMessage` (in order, each once). Returns how many
    // were handed on.
    size_t drive(CircularByteBuffer& buffer, const MessageHandler& onMessage);

    // The message completed by the last dispatch, still owned by the parser.
    Frame* message() const { return m_message.get(); }
    std::unique_ptr<Frame> takeMessage() { return std::move(m_message); }

    bool outOfData() const { return m_outOfData; }
    void setOutOfData(bool outOfData) { m_outOfData = outOfData; }

    // True when no frame has been begun: nothing read belongs to a frame still to come.
    bool isBetweenFrames() const;
    // The whole size (header, payload and CRC) of the frame begun and not yet complete,
    // as far as its header has told; 0 between frames.
    size_t pendingFrameSize() const;
    // Forgets a frame begun; the next byte is searched for a sync byte.
    void reset();

    // States; each expects a MessageEvent.
    void st_sync(const StateEvent* event);
    void st_readPayload(const StateEvent* event);
    void st_crc(const StateEvent* event);
    void st_endMsg(const StateEvent* event);

private:
    std::unique_ptr<Frame> m_message;
    uint8_t m_sync = 0;
    uint8_t m_code = 0;
    uint16_t m_length = 0;
    bool m_outOfData = false;
    std::vector<uint8_t> m_payload;
    // The CRC of the frame just read and how many of its bytes (from the end) are
    // still to come: a CRC cut off by the end of a datagram is taken from the start
    // of the next rather than searched for a sync byte.
    uint8_t m_expectedCrc[FrameCrcSize] = {};
    uint8_t m_owedCrc = 0;
    void expectCrc(const uint8_t* payload);
};

// Who a datagram came from, as the receiver sees it: the receiving socket (any number
// that names it while it is open), and the sender's IPv4 address (host order) and port.
struct Sender
{
    uint64_t channel = 0;
    uint32_t address = 0;
    uint16_t port = 0;

    bool operator==(const Sender& o) const
    {
        return channel == o.channel && address == o.address && port == o.port;
    }
};

// Frames per sender: a frame split over several datagrams continues only with the
// next datagram of the same sender, so nothing one sender sends can swallow, end or
// corrupt another sender's frames.
//
// Guarantees:
//  - Within one datagram the parser works as FrameParser::drive over a buffer of
//    ReceiveBufferSize bytes (a datagram larger than that goes in by parts).
//  - State survives a datagram only for a sender whose datagram ended inside a frame
//    of at most MaxCarriedFrame bytes (header, payload and CRC). A longer frame begun
//    at the end of a datagram is dropped there; answers of this protocol are a few
//    dozen bytes.
//  - At most MaxPartialSenders senders hold state; a further one pushes out a sender
//    that has never completed a frame before one that has (so a flood of senders of one
//    partial frame each cannot push out a device whose answers arrive in parts), and
//    among those the one heard from longest ago. Which senders completed frames is
//    remembered for at most MaxKnownSenders senders, each for the idle limit.
//  - State of a sender not heard from for the idle limit, or whose channel is forgotten,
//    is dropped.
//  - Memory: one receive buffer per sender with state, plus one for the rest.
class SenderReassembler
{
public:
    static constexpr size_t MaxCarriedFrame = 1024;
    static constexpr size_t MaxPartialSenders = 64;
    static constexpr size_t MaxKnownSenders = 4096;

    explicit SenderReassembler(int64_t idleLimitMs = 30000);
    ~SenderReassembler();
    SenderReassembler(const SenderReassembler&) = delete;
    SenderReassembler& operator=(const SenderReassembler&) = delete;

    // Parses one datagram of `from` received at time `nowMs` (any monotonic clock),
    // handing every completed message to onMessage in order. onMessage must not feed
    // this reassembler. Returns how many messages were handed on.
    size_t feed(const Sender& from, const uint8_t* data, size_t size, int64_t nowMs,
                const FrameParser::MessageHandler& onMessage);

    // The channel's socket is gone: its senders' partial frames with it, and what they
    // completed.
    void forgetChannel(uint64_t channel);
    // Drops the partial frames of the channel's senders and keeps the rest: the request
    // goes out again and is answered whole.
    void dropPartialFrames(uint64_t channel);
    void setIdleLimit(int64_t ms) { m_idleLimitMs = ms; }
    size_t partialSenders() const { return m_partial.size(); }

private:
    struct Stream;
    struct SenderHash
    {
        size_t operator()(const Sender& s) const
        {
            return std::hash<uint64_t>()((s.channel << 48) ^ (uint64_t(s.address) << 16) ^ s.port);
        }
    };
    std::unique_ptr<Stream> takeStream(const Sender& from, int64_t nowMs);
    void expire(int64_t nowMs);
    void noteCompleted(const Sender& from, int64_t nowMs);
    void makeRoom();

    int64_t m_idleLimitMs;
    std::vector<std::unique_ptr<Stream>> m_partial; // least recently heard first
    std::unique_ptr<Stream> m_spare;
    // Senders that completed a frame, and when they last did.
    std::unordered_map<Sender, int64_t, SenderHash> m_completed;
};

} // namespace corla
