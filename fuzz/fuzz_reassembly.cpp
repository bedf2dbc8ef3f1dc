// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Interleaved datagrams of several senders through the per-sender reassembler: what each
// sender's datagrams yield must not depend on what other senders sent in between.
// Input: records [sender] [length] [datagram]. Sender bits 0-2 pick one of eight senders,
// bit 3 one of two channels, bits 4-7 the milliseconds before it; length 255 means "the rest".

#include "fuzz/oracle.h"

#include <map>
#include <vector>

using namespace corla;
using namespace corla::fuzz;

namespace {

struct Datagram
{
    Sender sender;
    int64_t atMs;
    const uint8_t* data;
    size_t size;
};

uint64_t key(const Sender& s)
{
    return (s.channel << 48) | (uint64_t(s.address) << 16) | s.port;
}

using PerSender = std::map<uint64_t, std::vector<Fields>>;

PerSender run(const std::vector<Datagram>& datagrams, size_t* total)
{
    SenderReassembler reassembler(100);
    PerSender seen;
    uint64_t current = 0;
    size_t bytes = 0;
    size_t messages = 0;
    for (const Datagram& d : datagrams) {
        current = key(d.sender);
        bytes += d.size;
        const size_t handed =
            reassembler.feed(d.sender, d.data, d.size, d.atMs, [&](std::unique_ptr<Frame> msg) {
                check(msg != nullptr, "null message handed on");
                seen[current].push_back(decoded(msg->payload()));
                if (const auto* id = msg->payloadAs<IdentityPayload>())
                    check(id->netInfo().ipAddress().toString().size() <= 15, "address text length");
            });
        messages += handed;
        check(reassembler.partialSenders() <= SenderReassembler::MaxPartialSenders,
              "more partial senders than the limit");
        check(messages * FrameHeaderSize <= bytes + FrameHeaderSize * datagrams.size(),
              "more messages than bytes allow");
    }
    *total = messages;
    return seen;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<Datagram> all;
    int64_t now = 0;
    size_t at = 0;
    while (at + 2 <= size) {
        const uint8_t who = data[at];
        size_t n = data[at + 1];
        at += 2;
        if (n == 255 || n > size - at)
            n = size - at;
        now += (who >> 4) * 8;
        all.push_back({Sender{uint64_t((who >> 3) & 1), 0x0A0A0000u + (who & 7u),
                              uint16_t(62726 + (who & 1))},
                       now, data + at, n});
        at += n;
    }

    size_t together = 0;
    const PerSender interleaved = run(all, &together);
    // Each sender alone, with the same datagrams at the same times.
    std::map<uint64_t, std::vector<Datagram>> bySender;
    for (const Datagram& d : all)
        bySender[key(d.sender)].push_back(d);
    size_t apart = 0;
    for (const auto& [sender, own] : bySender) {
        size_t count = 0;
        const PerSender alone = run(own, &count);
        apart += count;
        const auto of = [sender = sender](const PerSender& seen) {
            const auto it = seen.find(sender);
            return it == seen.end() ? std::vector<Fields>() : it->second;
        };
        check(of(interleaved) == of(alone),
              "a sender's messages changed with other senders' datagrams");
    }
    check(apart == together, "messages appeared only when senders were interleaved");
    return 0;
}
