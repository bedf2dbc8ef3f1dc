// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Pours arbitrary bytes, in chunk sizes taken from the input, into a receive buffer
// of the adapter's size and drives the parser after each chunk, as the adapter does
// per datagram. Aborts when an invariant breaks.
//
// Input: the whole input is the byte stream. Its last byte picks the chunking:
// bits 0-1 the size class, the rest seed a small generator for the sizes. Bits
// 6-7 say how often the stream is poured: 1, 2, 4 or 3 times. A long stream gets
// larger chunks than its class, so that no run drives the parser more than a few
// hundred times: a frame is a few dozen bytes, and cutting a long stream byte by byte
// splits frames in no way a short one does not.
//
// A last byte of F0-FF instead fills the buffer: the stream, repeated until more than
// the buffer's capacity is there, goes in as 1-4 large chunks, so that short inputs
// still fill it and exercise what a full buffer drops and whether the parser ever
// stalls on one. That buffer is smaller than the adapter's: 32 to 512 bytes (bits
// 0-3). The parser takes its limit from the buffer it is given, so a small one reaches
// the same paths, while filling 16 KiB costs a hundred ordinary runs; such inputs are
// the first to reach every loop's highest hit count, so the fuzzer would keep them and
// spend nearly all its time on them.

#include "core/wire/codec.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace corla;

namespace {

[[noreturn]] void broken(const char* what)
{
    std::fprintf(stderr, "fuzz_parser: invariant broken: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what)
{
    if (!ok)
        broken(what);
}

constexpr uint8_t FirstFillControl = 0xF0;
constexpr size_t PourBudget = 128;

uint64_t bufferCapacity(uint8_t control)
{
    if (control < FirstFillControl)
        return FrameParser::ReceiveBufferSize;
    return 32 * (uint64_t(control & 15) + 1);
}

class Generator
{
public:
    explicit Generator(uint8_t control) : m_state(0x9E3779B9u ^ (uint32_t(control) * 0x01000193u))
    {}
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

struct Chunk
{
    const uint8_t* data;
    size_t size;
};

// The stream poured whole several times, each time cut afresh, so that frames also
// straddle the end of one pass and the start of the next.
std::vector<Chunk> pourChunks(const uint8_t* data, size_t size, uint8_t control)
{
    static const size_t maxOf[4] = {1, 8, 64, FrameParser::ReceiveBufferSize + 100};
    static const size_t roundsOf[4] = {1, 2, 4, 3};
    const size_t rounds = roundsOf[control >> 6];
    const size_t max = std::max(maxOf[control & 3], rounds * size / PourBudget);
    Generator sizes(control);
    std::vector<Chunk> chunks;
    for (size_t round = 0; round < rounds; ++round) {
        for (size_t at = 0; at < size;) {
            const size_t n = std::min<size_t>(1 + sizes.next() % max, size - at);
            chunks.push_back({data + at, n});
            at += n;
        }
    }
    return chunks;
}

// The stream repeated into `block` until it holds more than the buffer's capacity
// (so a full buffer both refuses bytes and must be drained), then cut into a few
// chunks of random length; the parser gets a turn between them.
std::vector<Chunk> fillChunks(const uint8_t* data, size_t size, uint8_t control, uint64_t capacity,
                              std::vector<uint8_t>* block)
{
    const size_t repeat = 2 + size_t(capacity) / size;
    block->clear();
    block->reserve(repeat * size);
    for (size_t i = 0; i < repeat; ++i)
        block->insert(block->end(), data, data + size);

    Generator cuts(control ^ uint8_t(size));
    const size_t pieces = 1 + cuts.next() % 4;
    std::vector<Chunk> chunks;
    size_t at = 0;
    for (size_t left = pieces; left > 1 && at < block->size(); --left) {
        const size_t n = 1 + cuts.next() % (2 * (block->size() - at) / left + 1);
        chunks.push_back({block->data() + at, std::min(n, block->size() - at)});
        at += chunks.back().size;
    }
    if (at < block->size())
        chunks.push_back({block->data() + at, block->size() - at});
    return chunks;
}

void checkMessage(const Frame& msg)
{
    const MessagePayload* p = msg.payload();
    check(p != nullptr, "message without payload");
    switch (p->commandCode()) {
    case MessageCode::NetworkEnquiry:
        check(msg.payloadAs<EnquiryMessage>() != nullptr, "enquiry code, other payload");
        check(msg.payloadAs<EnquiryMessage>()->netInfo().macAddress().toString().size() == 17,
              "MAC text length");
        break;
    case MessageCode::ChangeNetwork:
        check(msg.payloadAs<ChangeMessage>() != nullptr, "change code, other payload");
        check(msg.payloadAs<ChangeMessage>()->netInfo().ipAddress().toString().size() <= 15,
              "address text length");
        break;
    case MessageCode::ResetDevice:
        check(msg.payloadAs<ResetMessage>() != nullptr, "reset code, other payload");
        break;
    default:
        broken("unknown code handed on");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t control = data[size - 1];
    const uint64_t capacity = bufferCapacity(control);
    std::vector<uint8_t> block;
    const std::vector<Chunk> chunks = control >= FirstFillControl
                                          ? fillChunks(data, size, control, capacity, &block)
                                          : pourChunks(data, size, control);

    CircularByteBuffer buffer(capacity);
    FrameParser parser;
    uint64_t stored = 0;
    uint64_t consumedBefore = 0;
    size_t messages = 0;

    const auto onMessage = [&](std::unique_ptr<Frame> msg) {
        check(msg != nullptr, "null message handed on");
        checkMessage(*msg);
        check(parser.message() == nullptr, "parser kept a handed-on message");
        ++messages;
    };

    for (const Chunk& chunk : chunks) {
        const uint64_t room = buffer.freeSpace();
        const uint64_t written = buffer.write(chunk.data, chunk.size);
        check(written == std::min<uint64_t>(chunk.size, room), "write stored the wrong amount");
        stored += written;

        parser.setOutOfData(false);
        const size_t before = messages;
        const size_t handed = parser.drive(buffer, onMessage);
        check(handed == messages - before, "drive miscounted its messages");
        check(parser.outOfData(), "drive returned with data left to parse");
        check(buffer.count() <= buffer.capacity(), "buffer count beyond capacity");
        // A parser that stops on a full buffer waits for bytes that can never
        // come in: a payload it waits for must fit beside nothing else.
        check(!buffer.isFull(), "parser stalled on a full buffer");

        // Every message needs its own 4-byte header, which may have been read
        // in the drive before; anything more means work without input.
        const uint64_t consumed = stored - buffer.count();
        check(consumed >= consumedBefore, "consumed count went backwards");
        check(handed <= (consumed - consumedBefore) / FrameHeaderSize + 1,
              "more messages than bytes allow");
        consumedBefore = consumed;
    }
    check(messages <= stored / FrameHeaderSize, "more messages than frames could fit");
    return 0;
}
