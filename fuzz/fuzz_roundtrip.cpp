// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Round trips through the codec from fields taken from the input. The device's byte layout
// is the input's own bytes, so it owes nothing to the codec's writer.
//  - Requests framed by the program split back into their code, that layout and a CRC
//    computed here bit by bit; the device's request decoder gives back the same fields.
//  - Answers as a device writes them equal the codec's answer encoding; framed, strung
//    together with stray bytes and cut at arbitrary points, they come out of the parser
//    (per datagram, as the adapter drives it) and of the per-sender reassembler as exactly
//    the fields sent, in order, none missing or extra.
// Input: byte 0 picks the cutting (bits 0-1 the largest piece: 1, 5, 40 bytes or all; the
// whole byte seeds the sizes). Then records: a kind byte and that kind's fields in wire
// order (missing bytes read as zero). Kind bits 0-2: 0 enquiry, 1 change, 2 reset request;
// 3 enquiry answer, 4 without DNS, 5 change answer, 6 reset answer, 7 nothing. Bits 3-7:
// stray bytes (taken after the fields, 2A made AA) put in the stream before the answer.

#include "fuzz/oracle.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <utility>
#include <vector>

using namespace corla;
using namespace corla::fuzz;

namespace {

// Reads fields least significant byte first, as on the wire; every byte taken is also
// appended to `wire`.
class Input
{
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool atEnd() const { return m_at >= m_size; }
    uint8_t u8() { return m_at < m_size ? m_data[m_at++] : 0; }
    uint32_t take(int n)
    {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            wire.push_back(u8());
            v |= uint32_t(wire.back()) << (8 * i);
        }
        return v;
    }
    std::array<uint8_t, 6> mac()
    {
        std::array<uint8_t, 6> m{};
        for (uint8_t& o : m)
            o = uint8_t(take(1));
        return m;
    }
    std::vector<uint8_t> wire;

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

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

std::string macText(const std::array<uint8_t, 6>& m, const char* pairFormat)
{
    std::string t;
    char pair[3];
    for (int i = 5; i >= 0; --i) {
        std::snprintf(pair, sizeof pair, pairFormat, m[size_t(i)]);
        t += pair + std::string(i > 0 ? ":" : "");
    }
    return t;
}

void readIdentity(Input& in, Fields* f)
{
    f->type = uint8_t(in.take(1));
    f->serial = uint16_t(in.take(2));
    f->mac = in.mac();
}

void readSettings(Input& in, Fields* f, bool withDns)
{
    f->mode = uint8_t(in.take(1));
    f->ip = in.take(4);
    f->mask = in.take(4);
    f->gateway = in.take(4);
    f->dns = withDns ? in.take(4) : 0;
}

NetworkSettings netInfoOf(const Fields& f)
{
    return NetworkSettings(f.ip, f.mask, f.gateway, f.dns, f.mac.data(), f.mode);
}

// A request framed by the program, split back as a device splits it.
void checkRequest(uint8_t kind, Input& in)
{
    Fields f;
    std::unique_ptr<MessagePayload> payload;
    if (kind == 2) {
        f.code = MessageCode::ResetDevice;
        f.mac = in.mac();
        f.port = uint16_t(in.take(2));
        payload = std::make_unique<ResetMessage>(MacAddress(f.mac));
        // Devices match MAC=<six hex pairs>;PORT=<decimal>, nothing before or after.
        const std::string text =
            "MAC=" + macText(f.mac, "%02x") + ";PORT=" + std::to_string(f.port);
        in.wire.assign(text.begin(), text.end());
    } else {
        f.code = kind == 0 ? MessageCode::NetworkEnquiry : MessageCode::ChangeNetwork;
        readIdentity(in, &f);
        f.port = uint16_t(in.take(2));
        if (kind == 0) {
            payload = std::make_unique<EnquiryMessage>(f.type, f.serial, netInfoOf(f));
        } else {
            readSettings(in, &f, true);
            payload = std::make_unique<ChangeMessage>(f.type, f.serial, netInfoOf(f));
        }
    }
    payload->setResponsePort(f.port);
    const Frame command(payload.get());
    const std::vector<uint8_t> frame = command.frame();

    // Describing the fields costs more than the round trip: only on failure.
    const auto expect = [&f](bool ok, const char* what) {
        if (!ok)
            broken(what, f.describe());
    };
    const size_t expectedSize = kind == 0 ? 11 : kind == 1 ? 28 : in.wire.size();
    FrameParts split;
    expect(splitFrame(frame.data(), frame.size(), &split), "request frame does not split");
    if (kind == 2 && split.payload.size() == expectedSize) {
        // Devices take the hex digits in either case.
        for (size_t i = 4; i < 4 + 17; ++i)
            split.payload[i] = uint8_t(std::tolower(split.payload[i]));
    }
    expect(split.code == f.code, "request code");
    expect(split.payload.size() == expectedSize, "request payload length");
    expect(split.payload == in.wire, "request payload bytes");
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

// An answer as a device writes it, checked against the codec's answer encoder.
std::vector<uint8_t> answerFrame(uint8_t kind, Input& in, Fields* f)
{
    std::unique_ptr<MessagePayload> answer;
    if (kind == 6) {
        f->code = MessageCode::ResetDevice;
        f->mac = in.mac();
        const std::string text = "MAC=" + macText(f->mac, "%02X");
        in.wire.assign(text.begin(), text.end());
        answer = std::make_unique<ResetMessage>(MacAddress(f->mac));
    } else if (kind == 5) {
        f->code = MessageCode::ChangeNetwork;
        readIdentity(in, f);
        f->error = int16_t(in.take(2));
        readSettings(in, f, true);
        auto change = std::make_unique<ChangeMessage>(f->type, f->serial, netInfoOf(*f));
        change->setError(f->error);
        answer = std::move(change);
    } else {
        f->code = MessageCode::NetworkEnquiry;
        readIdentity(in, f);
        readSettings(in, f, kind != 4);
        answer = std::make_unique<EnquiryMessage>(f->type, f->serial, netInfoOf(*f));
    }
    static const size_t sizeOf[4] = {26, 22, 28, 21};
    check(in.wire.size() == sizeOf[kind - 3], "answer layout size");
    std::vector<uint8_t> encoded = encodeCorlaPayload(*answer, PayloadLayout::Answer);
    if (kind == 4)
        encoded.resize(std::min(encoded.size(), in.wire.size()));
    if (encoded != in.wire)
        broken("the codec writes another answer", f->describe());
    return encodeFrame(f->code, in.wire.data(), in.wire.size());
}

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
        in.wire.clear();
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
    const size_t max = std::max(largestPiece[cutting & 3], stream.size() / 128);
    Generator sizes(cutting);
    std::vector<std::pair<const uint8_t*, size_t>> pieces;
    for (size_t at = 0; at < stream.size();) {
        const size_t left = stream.size() - at;
        const size_t n = max == SIZE_MAX ? left : std::min<size_t>(1 + sizes.next() % max, left);
        pieces.emplace_back(stream.data() + at, n);
        at += n;
    }

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

    // The same pieces as datagrams of one sender.
    got.clear();
    SenderReassembler reassembler;
    const Sender sender{1, 0x0A0A0005u, 62726};
    int64_t now = 0;
    for (const auto& [bytes, n] : pieces)
        reassembler.feed(sender, bytes, n, now++, collect);
    compare(sent, got, "through the reassembler");
    return 0;
}
