// Pours arbitrary bytes, in chunk sizes taken from the input, into a receive buffer
// of the adapter's size and drives the parser after each chunk, as the adapter does
// per datagram. Aborts when an invariant breaks.
//
// Input: the whole input is the byte stream. Its last byte picks the chunking:
// bits 0-1 the size class, the rest seed a small generator for the sizes. Bits
// 6-7 say how often the stream is poured: 1, 2 or 4 times, or until more than the
// buffer's capacity has gone in, so that short inputs still fill the buffer and
// exercise what a full buffer drops and whether the parser ever stalls on one.

#include "zecorla.h"

#include <cstdio>
#include <cstdlib>

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

class ChunkSizes
{
public:
    explicit ChunkSizes(uint8_t control) : m_state(0x9E3779B9u ^ (uint32_t(control) * 0x01000193u))
    {
        static const size_t maxOf[4] = {1, 8, 64, ZelCorlaProcessor::ReceiveBufferSize + 100};
        // Filling the buffer byte by byte finds nothing that 64-byte chunks miss,
        // only slower.
        const bool filling = (control >> 6) == 3;
        m_max = maxOf[filling ? (control & 3) | 2 : control & 3];
    }
    size_t next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return 1 + m_state % m_max;
    }

private:
    uint32_t m_state;
    size_t m_max;
};

void checkMessage(const ZelCorlaCommand& msg)
{
    const ZelCorlaCommandPayload* p = msg.payload();
    check(p != nullptr, "message without payload");
    switch (p->commandCode()) {
    case ZelCorlaCode::NetworkEnquiry:
        check(msg.payloadAs<ZelNetworkEnqireCmd>() != nullptr, "enquiry code, other payload");
        check(msg.payloadAs<ZelNetworkEnqireCmd>()->netInfo().macAddress().toString().size() == 17,
              "MAC text length");
        break;
    case ZelCorlaCode::ChangeNetwork:
        check(msg.payloadAs<ZelChangeNetworkCmd>() != nullptr, "change code, other payload");
        check(msg.payloadAs<ZelChangeNetworkCmd>()->netInfo().ipAddress().toString().size() <= 15,
              "address text length");
        break;
    case ZelCorlaCode::ResetDevice:
        check(msg.payloadAs<ZelResetDeviceCmd>() != nullptr, "reset code, other payload");
        break;
    default:
        broken("unknown code handed on");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The message layer reports unknown codes and reset answers on standard output.
    if (!std::freopen("/dev/null", "w", stdout))
        std::fclose(stdout);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t control = data[size - 1];
    static const size_t roundsOf[3] = {1, 2, 4};
    const size_t repeat = (control >> 6) < 3 ? roundsOf[control >> 6]
                                             : 2 + ZelCorlaProcessor::ReceiveBufferSize / size;
    ChunkSizes sizes(control);

    CircularByteBuffer buffer(ZelCorlaProcessor::ReceiveBufferSize);
    ZelCorlaProcessor parser;
    uint64_t stored = 0;
    uint64_t consumedBefore = 0;
    size_t messages = 0;

    const auto onMessage = [&](std::unique_ptr<ZelCorlaCommand> msg) {
        check(msg != nullptr, "null message handed on");
        checkMessage(*msg);
        check(parser.message() == nullptr, "parser kept a handed-on message");
        ++messages;
    };

    for (size_t round = 0; round < repeat; ++round) {
        size_t at = 0;
        while (at < size) {
            const size_t n = std::min(sizes.next(), size - at);
            const uint64_t room = buffer.freeSpace();
            const uint64_t written = buffer.write(data + at, n);
            check(written == std::min<uint64_t>(n, room), "write stored the wrong amount");
            stored += written;
            at += n;

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
            check(handed <= (consumed - consumedBefore) / CorlaHeaderSize + 1,
                  "more messages than bytes allow");
            consumedBefore = consumed;
        }
    }
    check(messages <= stored / CorlaHeaderSize, "more messages than frames could fit");
    return 0;
}
