// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The two directions of the wire's byte order.
//
// ByteStream: read-only input stream over a block of bytes owned by somebody else.
// Message decoders read their fields with the ordinary istream read(), in wire order.
// End of data: a read asking for more than remains delivers what remains, then
// leaves the stream in its end-of-data and failed state, so every later read
// delivers nothing. Destination bytes that were not delivered keep their old
// value, which is why decoders zero their fields before reading.
//
// ByteWriter: builds a block field by field, integers little-endian. Every encoder of
// discovery payloads and frames writes through it.

#include <cstddef>
#include <cstdint>
#include <istream>
#include <streambuf>
#include <utility>
#include <vector>

namespace corla {

class ByteStreamBuffer : public std::streambuf
{
public:
    // The block is neither copied nor owned; it must outlive the buffer.
    ByteStreamBuffer(const uint8_t* data, uint64_t length);
    ~ByteStreamBuffer() override;

    uint64_t remaining() const { return static_cast<uint64_t>(egptr() - gptr()); }
};

namespace bytestream_detail {
// Holds the buffer so that it is constructed before the istream base that uses it.
struct BufferHolder
{
    BufferHolder(const uint8_t* data, uint64_t length) : m_buffer(data, length) {}
    ByteStreamBuffer m_buffer;
};
} // namespace bytestream_detail

class ByteStream : private bytestream_detail::BufferHolder, public std::istream
{
public:
    ByteStream(const uint8_t* data, uint64_t length);
    ByteStream(const ByteStream&) = delete;
    ByteStream& operator=(const ByteStream&) = delete;

    uint64_t bytesAvailable() const { return m_buffer.remaining(); }
};

class ByteWriter
{
public:
    void u8(uint8_t v) { m_bytes.push_back(v); }
    void u16(uint16_t v);
    void u32(uint32_t v);
    void bytes(const void* data, size_t n);

    size_t size() const { return m_bytes.size(); }
    const std::vector<uint8_t>& data() const { return m_bytes; }
    std::vector<uint8_t> take() { return std::move(m_bytes); }

private:
    std::vector<uint8_t> m_bytes;
};

} // namespace corla
