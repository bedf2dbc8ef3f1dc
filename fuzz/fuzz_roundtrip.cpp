// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Round trips through the codec, in both directions, from fields taken from the input.
// Aborts when one breaks. The bytes a device reads and writes are written here byte by
// byte, independently of the codec's writer.
//
//  - Requests the program sends, built from arbitrary fields and framed by
//    Frame, must split back into their code and the byte layout a device
//    reads, under a CRC computed here independently of the codec's table, and the
//    codec's request decoder (the device's side) must give back the same fields.
//  - Answers in every layout a device sends must be what the codec's answer encoder
//    writes for the same fields; framed, strung together with stray bytes between them
//    and cut at arbitrary points, they must come out of the parser (as the adapter drives
//    it per datagram, and through the per-sender reassembler) as exactly the same
//    fields, in the same order, none missing and none extra.
//
// Input: byte 0 picks the cutting: bits 0-1 the largest piece (1, 5 or 40 bytes, or
// the whole stream), all of it seeds a small generator for the sizes. Then records,
// each a kind byte and the fields of that kind in wire order (missing bytes read as
// zero). Kind bits 0-2: 0 enquiry, 1 change, 2 reset request; 3 enquiry answer,
// 4 enquiry answer without DNS, 5 change answer, 6 reset answer, 7 nothing. Bits 3-7:
// how many stray bytes (0-31, taken from the input after the fields, 2A made AA) go
// into the stream before the record's answer.

#include "core/wire/codec.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace corla;

namespace {

[[noreturn]] void broken(const char* what, const std::string& detail = std::string())
{
    std::fprintf(stderr, "fuzz_roundtrip: invariant broken: %s%s%s\n", what,
                 detail.empty() ? "" : ": ", detail.c_str());
    std::abort();
}

void check(bool ok, const char* what)
{
    if (!ok)
        broken(what);
}

class Input
{
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool atEnd() const { return m_at >= m_size; }
    uint8_t u8() { return m_at < m_size ? m_data[m_at++] : 0; }
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
    std::array<uint8_t, 6> mac()
    {
        std::array<uint8_t, 6> m{};
        for (uint8_t& o : m)
            o = u8();
        return m;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

class Bytes
{
public:
    void u8(uint8_t v) { m_bytes.push_back(v); }
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
    void mac(const std::array<uint8_t, 6>& m) { m_bytes.insert(m_bytes.end(), m.begin(), m.end()); }
    void text(const std::string& t) { m_bytes.insert(m_bytes.end(), t.begin(), t.end()); }
    const std::vector<uint8_t>& bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

// Bit by bit from the polynomial, so that a wrong table in the codec shows.
uint16_t crc16Arc(const uint8_t* data, size_t n)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? uint16_t((crc >> 1) ^ 0xA001u) : uint16_t(crc >> 1);
    }
    return crc;
}

// What one message carries; fields a layout lacks stay zero on both sides.
struct Fields
{
    uint8_t code = 0;
    uint8_t type = 0;
    uint16_t serial = 0;
    std::array<uint8_t, 6> mac{};
    uint16_t port = 0;
    int16_t error = 0;
    uint8_t mode = 0;
    uint32_t ip = 0;
    uint32_t mask = 0;
    uint32_t gateway = 0;
    uint32_t dns = 0;

    bool operator==(const Fields& o) const
    {
        return code == o.code && type == o.type && serial == o.serial && mac == o.mac &&
               port == o.port && error == o.error && mode == o.mode && ip == o.ip &&
               mask == o.mask && gateway == o.gateway && dns == o.dns;
    }
    std::string describe() const
    {
        char text[160];
        std::snprintf(text, sizeof text,
                      "%02X type %u serial %u mac %02x:%02x:%02x:%02x:%02x:%02x error %d mode %u "
                      "ip %08X mask %08X gw %08X dns %08X",
                      code, type, serial, mac[5], mac[4], mac[3], mac[2], mac[1], mac[0], error,
                      mode, ip, mask, gateway, dns);
        return text;
    }
};

std::string macText(const std::array<uint8_t, 6>& m, const char* pairFormat)
{
    std::string t;
    char pair[3];
    for (int i = 5; i >= 0; --i) {
        std::snprintf(pair, sizeof pair, pairFormat, m[size_t(i)]);
        t += pair;
        if (i > 0)
            t += ':';
    }
    return t;
}

void readIdentity(Input& in, Fields* f)
{
    f->type = in.u8();
    f->serial = in.u16();
    f->mac = in.mac();
}

void readSettings(Input& in, Fields* f, bool withDns)
{
    f->mode = in.u8();
    f->ip = in.u32();
    f->mask = in.u32();
    f->gateway = in.u32();
    f->dns = withDns ? in.u32() : 0;
}

NetworkSettings netInfoOf(const Fields& f)
{
    return NetworkSettings(f.ip, f.mask, f.gateway, f.dns, f.mac.data(), f.mode);
}

Fields decoded(const MessagePayload* p);

// A request framed by the program, split back as a device splits it.
void checkRequest(uint8_t kind, Input& in)
{
    Fields f;
    std::unique_ptr<MessagePayload> payload;
    Bytes layout; // what the device reads
    if (kind == 2) {
        f.code = MessageCode::ResetDevice;
        f.mac = in.mac();
        f.port = in.u16();
        payload = std::make_unique<ResetMessage>(MacAddress(f.mac));
        // Devices match MAC=<six hex pairs>;PORT=<decimal>, nothing before or after.
        layout.text("MAC=" + macText(f.mac, "%02x") + ";PORT=" + std::to_string(f.port));
    } else {
        readIdentity(in, &f);
        f.port = in.u16();
        layout.u8(f.type);
        layout.u16(f.serial);
        layout.mac(f.mac);
        layout.u16(f.port);
        if (kind == 0) {
            f.code = MessageCode::NetworkEnquiry;
            payload = std::make_unique<EnquiryMessage>(f.type, f.serial, netInfoOf(f));
        } else {
            f.code = MessageCode::ChangeNetwork;
            readSettings(in, &f, true);
            payload = std::make_unique<ChangeMessage>(f.type, f.serial, netInfoOf(f));
            layout.u8(f.mode);
            layout.u32(f.ip);
            layout.u32(f.mask);
            layout.u32(f.gateway);
            layout.u32(f.dns);
        }
    }
    payload->setResponsePort(f.port);
    const Frame command(payload.get());
    const std::vector<uint8_t> frame = command.frame();

    // The fields go into the message only when it fails: describing each costs more
    // than the round trip.
    const auto expect = [&f](bool ok, const char* what) {
        if (!ok)
            broken(what, f.describe());
    };
    const size_t expectedSize = kind == 0 ? 11 : kind == 1 ? 28 : layout.bytes().size();
    FrameParts split;
    expect(splitFrame(frame.data(), frame.size(), &split), "request frame does not split");
    if (kind == 2 && split.payload.size() == expectedSize) {
        // Devices take the hex digits in either case.
        for (size_t i = 4; i < 4 + 17; ++i)
            split.payload[i] = uint8_t(std::tolower(split.payload[i]));
    }
    expect(split.code == f.code, "request code");
    expect(split.payload.size() == expectedSize, "request payload length");
    expect(split.payload == layout.bytes(), "request payload bytes");
    expect(split.crcMatches, "request CRC does not match");
    expect(split.receivedCrc == crc16Arc(frame.data(), frame.size() - FrameCrcSize),
           "request CRC is not CRC-16/ARC");
    expect(split.payload.size() <= MessagePayload::MaxRequestSize,
           "request longer than MaxRequestSize");
    std::unique_ptr<MessagePayload> read;
    expect(decodeCorlaPayload(f.code, PayloadLayout::Request, frame.data() + FrameHeaderSize,
                              expectedSize, &read) == DecodeStatus::Complete,
           "request does not decode whole");
    expect(decoded(read.get()) == f, "request decodes to other fields");

    // serialize() appends the same frame after what the buffer already holds.
    uint8_t buffer[3 + MessagePayload::MaxRequestSize + FrameHeaderSize + FrameCrcSize];
    uint64_t size = 3;
    command.serialize(&size, buffer);
    expect(size == 3 + frame.size() && std::equal(frame.begin(), frame.end(), buffer + 3),
           "serialize() differs from frame()");
}

// An answer as a device writes it.
std::vector<uint8_t> answerFrame(uint8_t kind, Input& in, Fields* f)
{
    Bytes p;
    if (kind == 6) {
        f->code = MessageCode::ResetDevice;
        f->mac = in.mac();
        p.text("MAC=" + macText(f->mac, "%02X"));
    } else {
        f->code = kind == 5 ? MessageCode::ChangeNetwork : MessageCode::NetworkEnquiry;
        readIdentity(in, f);
        p.u8(f->type);
        p.u16(f->serial);
        p.mac(f->mac);
        if (kind == 5) {
            f->error = int16_t(in.u16());
            p.u16(uint16_t(f->error));
        }
        const bool withDns = kind != 4;
        readSettings(in, f, withDns);
        p.u8(f->mode);
        p.u32(f->ip);
        p.u32(f->mask);
        p.u32(f->gateway);
        if (withDns)
            p.u32(f->dns);
    }
    static const size_t sizeOf[4] = {26, 22, 28, 21};
    check(p.bytes().size() == sizeOf[kind - 3], "answer layout size");

    std::unique_ptr<MessagePayload> answer;
    if (kind == 6) {
        answer = std::make_unique<ResetMessage>(MacAddress(f->mac));
    } else if (kind == 5) {
        auto change = std::make_unique<ChangeMessage>(f->type, f->serial, netInfoOf(*f));
        change->setError(f->error);
        answer = std::move(change);
    } else {
        answer = std::make_unique<EnquiryMessage>(f->type, f->serial, netInfoOf(*f));
    }
    std::vector<uint8_t> encoded = encodeCorlaPayload(*answer, PayloadLayout::Answer);
    if (kind == 4)
        encoded.resize(std::min(encoded.size(), p.bytes().size()));
    if (encoded != p.bytes())
        broken("the codec writes another answer", f->describe());
    return encodeFrame(f->code, p.bytes().data(), p.bytes().size());
}

Fields decoded(const MessagePayload* p)
{
    check(p != nullptr, "message without payload");
    Fields f;
    f.code = p->commandCode();
    f.port = p->responsePort();
    if (const auto* id = dynamic_cast<const IdentityPayload*>(p)) {
        const NetworkSettings& n = id->netInfo();
        f.type = id->deviceType();
        f.serial = id->serialNo();
        f.mac = n.macAddress().octets();
        f.mode = uint8_t(n.addressMode());
        f.ip = n.ipAddress().toInt();
        f.mask = n.subnetMask().toInt();
        f.gateway = n.gateway().toInt();
        f.dns = n.dns().toInt();
    } else if (const auto* reset = dynamic_cast<const ResetMessage*>(p)) {
        f.mac = reset->macAddress().octets();
    } else {
        broken("unknown payload handed on");
    }
    if (const auto* change = dynamic_cast<const ChangeMessage*>(p))
        f.error = change->error();
    return f;
}

constexpr size_t PieceBudget = 128;

class Generator
{
public:
    explicit Generator(uint8_t seed) : m_state(0x9E3779B9u ^ (uint32_t(seed) * 0x01000193u)) {}
    uint32_t next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }

private:
    uint32_t m_state;
};

void compare(const std::vector<Fields>& sent, const std::vector<Fields>& got, const char* path)
{
    for (size_t i = 0; i < std::min(sent.size(), got.size()); ++i) {
        if (!(got[i] == sent[i]))
            broken(path, "answer " + std::to_string(i) + " sent " + sent[i].describe() +
                             ", decoded " + got[i].describe());
    }
    if (got.size() != sent.size())
        broken(path, std::to_string(sent.size()) + " answers sent, " + std::to_string(got.size()) +
                         " decoded");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    Input in(data, size);
    const uint8_t cutting = in.u8();

    std::vector<uint8_t> stream;
    std::vector<Fields> sent;
    while (!in.atEnd()) {
        const uint8_t record = in.u8();
        const uint8_t kind = record & 7;
        Fields f;
        std::vector<uint8_t> frame;
        if (kind <= 2)
            checkRequest(kind, in);
        else if (kind <= 6)
            frame = answerFrame(kind, in, &f);
        for (size_t n = record >> 3; n > 0; --n) {
            const uint8_t b = in.u8();
            // Stray bytes are whatever cannot open a frame.
            stream.push_back(b == FrameSyncByte ? uint8_t(0xAA) : b);
        }
        if (!frame.empty()) {
            stream.insert(stream.end(), frame.begin(), frame.end());
            sent.push_back(f);
        }
    }

    // A long stream gets larger pieces than its class: cutting it byte by byte splits
    // frames in no way a short stream does not, at a hundred times the cost.
    static const size_t largestPiece[4] = {1, 5, 40, SIZE_MAX};
    const size_t max = std::max(largestPiece[cutting & 3], stream.size() / PieceBudget);
    Generator sizes(cutting);
    std::vector<std::pair<const uint8_t*, size_t>> pieces;
    for (size_t at = 0; at < stream.size();) {
        const size_t left = stream.size() - at;
        const size_t n = max == SIZE_MAX ? left : std::min<size_t>(1 + sizes.next() % max, left);
        pieces.emplace_back(stream.data() + at, n);
        at += n;
    }

    // As the adapter drives the parser per datagram.
    std::vector<Fields> got;
    const auto collect = [&](std::unique_ptr<Frame> msg) {
        check(msg != nullptr, "null message handed on");
        got.push_back(decoded(msg->payload()));
    };
    CircularByteBuffer buffer(FrameParser::ReceiveBufferSize);
    FrameParser parser;
    for (const auto& [bytes, n] : pieces) {
        for (size_t done = 0; done < n;) {
            const uint64_t taken = buffer.write(bytes + done, n - done);
            check(taken > 0 || !buffer.isFull(), "buffer full of answers");
            done += size_t(taken);
            parser.drive(buffer, collect);
        }
    }
    compare(sent, got, "through the parser");

    // The same pieces as datagrams of one sender, through what the adapter uses.
    got.clear();
    SenderReassembler reassembler;
    const Sender sender{1, 0x0A0A0005u, 62726};
    int64_t now = 0;
    for (const auto& [bytes, n] : pieces)
        reassembler.feed(sender, bytes, n, now++, collect);
    compare(sent, got, "through the reassembler");
    return 0;
}
