// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Datagrams from several senders, interleaved, through the per-sender reassembler.
// Aborts when an invariant breaks; the central one: what each sender's datagrams yield
// does not depend on what other senders sent in between.
//
// Input: a sequence of records  [sender] [length] [length bytes of datagram]. The
// sender byte's bits 0-2 pick one of eight senders, bit 3 one of two channels, bits
// 4-7 how many milliseconds pass before the datagram; the length byte is a length
// (0-254) or, as 255, "the rest of the input".

#include "core/wire/codec.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

using namespace corla;

namespace {

[[noreturn]] void broken(const char* what)
{
    std::fprintf(stderr, "fuzz_reassembly: invariant broken: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what)
{
    if (!ok)
        broken(what);
}

struct Datagram
{
    Sender sender;
    int64_t atMs;
    const uint8_t* data;
    size_t size;
};

std::string describe(const Frame& msg)
{
    const MessagePayload* p = msg.payload();
    check(p != nullptr, "message without payload");
    std::string d(1, char(p->commandCode()));
    if (const auto* id = dynamic_cast<const IdentityPayload*>(p)) {
        const NetworkSettings& n = id->netInfo();
        d += std::to_string(id->deviceType()) + " " + std::to_string(id->serialNo()) + " " +
             n.macAddress().toString() + " " + n.ipAddress().toString() + " " +
             n.subnetMask().toString() + " " + n.gateway().toString() + " " + n.dns().toString() +
             " " + std::to_string(int(n.addressMode()));
        check(n.ipAddress().toString().size() <= 15, "address text length");
    } else if (const auto* reset = dynamic_cast<const ResetMessage*>(p)) {
        d += reset->macAddress().toString();
    } else {
        broken("unknown payload handed on");
    }
    if (const auto* change = dynamic_cast<const ChangeMessage*>(p))
        d += " err " + std::to_string(change->error());
    return d;
}

uint64_t key(const Sender& s)
{
    return (s.channel << 48) | (uint64_t(s.address) << 16) | s.port;
}

using PerSender = std::map<uint64_t, std::vector<std::string>>;

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
                seen[current].push_back(describe(*msg));
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
        const auto mixed = interleaved.find(sender);
        const auto single = alone.find(sender);
        const bool noneEither = mixed == interleaved.end() && single == alone.end();
        check(noneEither || (mixed != interleaved.end() && single != alone.end() &&
                             mixed->second == single->second),
              "a sender's messages changed with other senders' datagrams");
    }
    check(apart == together, "messages appeared only when senders were interleaved");
    return 0;
}
