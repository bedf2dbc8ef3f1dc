// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Arbitrary bytes poured, in chunks sized by the input, into a receive buffer; the parser
// is driven after each chunk, as the adapter does per datagram.
// Input: the byte stream; its last byte picks the chunking. Bits 0-1 the size class (the
// rest seed the sizes), bits 6-7 how often the stream is poured: 1, 2, 4 or 3 times. Long
// streams get larger chunks: cutting them byte by byte finds nothing short ones do not.
// A last byte of F0-FF fills instead a buffer of 32-512 bytes (bits 0-3) with the stream
// repeated past its capacity, in 1-4 chunks: what a full buffer drops, and whether the
// parser stalls on one. Filling the adapter's 16 KiB would cost a hundred ordinary runs.

#include "fuzz/oracle.h"

#include <algorithm>
#include <vector>

using namespace corla;
using namespace corla::fuzz;

namespace {

constexpr uint8_t FirstFillControl = 0xF0;

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
    const size_t max = std::max(maxOf[control & 3], rounds * size / 128);
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

// The stream repeated past the buffer's capacity (so a full buffer both refuses bytes and
// must be drained), cut into a few chunks; the parser gets a turn between them.
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
    const uint64_t capacity = control < FirstFillControl ? FrameParser::ReceiveBufferSize
                                                         : 32 * (uint64_t(control & 15) + 1);
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
        // A parser waiting on a full buffer waits for bytes that can never come in.
        check(!buffer.isFull(), "parser stalled on a full buffer");

        // Each message needs its own header, perhaps read in the drive before.
        const uint64_t consumed = stored - buffer.count();
        check(consumed >= consumedBefore, "consumed count went backwards");
        check(handed <= (consumed - consumedBefore) / FrameHeaderSize + 1,
              "more messages than bytes allow");
        consumedBefore = consumed;
    }
    check(messages <= stored / FrameHeaderSize, "more messages than frames could fit");
    return 0;
}
