// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Enquiry answers per second through the receive buffer and the parser, beside a
// plain memcpy of the same datagrams measured in the same run. One answer per
// datagram, as devices send them; each datagram is poured in and the parser driven,
// exactly as the adapter does.

#include "core/wire/codec.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef CORLA_BUILD_TYPE
#define CORLA_BUILD_TYPE ""
#endif

using namespace corla;

namespace {

using Clock = std::chrono::steady_clock;

std::vector<uint8_t> enquiryAnswer()
{
    const uint8_t payload[26] = {0x03, 0x34, 0x12, 0x5E, 0x4D, 0x3C, 0x2B, 0x1A, 0x00,
                                 0x02, 0x0A, 0x01, 0xA8, 0xC0, 0x00, 0xFF, 0xFF, 0xFF,
                                 0x01, 0x01, 0xA8, 0xC0, 0x04, 0x04, 0x08, 0x08};
    return encodeFrame(MessageCode::NetworkEnquiry, payload, sizeof payload);
}

// Seconds for `answers` datagrams through buffer and parser; counts what came out.
double timeParser(const std::vector<uint8_t>& frame, long answers, long* decoded)
{
    CircularByteBuffer buffer(FrameParser::ReceiveBufferSize);
    FrameParser parser;
    long count = 0;
    uint32_t serials = 0;
    const FrameParser::MessageHandler onMessage = [&](std::unique_ptr<Frame> m) {
        ++count;
        serials += m->payloadAs<EnquiryMessage>()->serialNo();
    };
    const auto start = Clock::now();
    for (long i = 0; i < answers; ++i) {
        buffer.write(frame.data(), frame.size());
        parser.setOutOfData(false);
        parser.drive(buffer, onMessage);
    }
    const std::chrono::duration<double> took = Clock::now() - start;
    *decoded = count + long(serials == 0xFFFFFFFFu); // keeps the field read alive
    return took.count();
}

// Seconds for copying the same datagrams into a buffer of the same size.
double timeMemcpy(const std::vector<uint8_t>& frame, long answers, unsigned* sink)
{
    // Called through a volatile pointer so that the compiler cannot drop the copies.
    void* (*volatile copy)(void*, const void*, size_t) = std::memcpy;
    static uint8_t target[FrameParser::ReceiveBufferSize];
    size_t at = 0;
    unsigned sum = 0;
    const auto start = Clock::now();
    for (long i = 0; i < answers; ++i) {
        if (at + frame.size() > sizeof target)
            at = 0;
        copy(target + at, frame.data(), frame.size());
        sum += target[at + 5];
        at += frame.size();
    }
    const std::chrono::duration<double> took = Clock::now() - start;
    *sink = sum;
    return took.count();
}

} // namespace

int main(int argc, char** argv)
{
    const long answers = argc > 1 ? std::max(1L, std::atol(argv[1])) : 2000000L;
    const int rounds = 5;
    const std::vector<uint8_t> frame = enquiryAnswer();

    double bestParser = 1e30, bestCopy = 1e30;
    long decoded = 0;
    unsigned sink = 0;
    for (int r = 0; r < rounds; ++r) {
        bestParser = std::min(bestParser, timeParser(frame, answers, &decoded));
        bestCopy = std::min(bestCopy, timeMemcpy(frame, answers, &sink));
    }
    if (decoded != answers) {
        std::fprintf(stderr, "bench_parser: decoded %ld of %ld answers\n", decoded, answers);
        return 1;
    }

    const double parserRate = answers / bestParser;
    const double copyRate = answers / bestCopy;
    std::printf("build type: %s; %ld answers of %zu bytes, best of %d rounds (sink %u)\n",
                CORLA_BUILD_TYPE, answers, frame.size(), rounds, sink & 1u);
    std::printf("parser: %12.0f answers/s  (%7.1f ns/answer)\n", parserRate, 1e9 / parserRate);
    std::printf("memcpy: %12.0f answers/s  (%7.1f ns/answer)\n", copyRate, 1e9 / copyRate);
    std::printf("ratio memcpy/parser: %.1f\n", copyRate / parserRate);
    return 0;
}
