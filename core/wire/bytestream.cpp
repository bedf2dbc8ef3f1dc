// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/wire/bytestream.h"

#include <cstring>

namespace corla {

ByteStreamBuffer::ByteStreamBuffer(const uint8_t* data, uint64_t length)
{
    // The get area is only ever read: no put area, and putback of a different
    // character is refused by the default pbackfail(), so the cast is safe.
    auto* begin = reinterpret_cast<char*>(const_cast<uint8_t*>(data));
    if (!begin)
        length = 0;
    setg(begin, begin, begin + length);
}

ByteStreamBuffer::~ByteStreamBuffer() = default;

ByteStream::ByteStream(const uint8_t* data, uint64_t length)
    : BufferHolder(data, length), std::istream(&m_buffer)
{}

void ByteWriter::u16(uint16_t v)
{
    u8(uint8_t(v));
    u8(uint8_t(v >> 8));
}

void ByteWriter::u32(uint32_t v)
{
    u16(uint16_t(v));
    u16(uint16_t(v >> 16));
}

void ByteWriter::bytes(const void* data, size_t n)
{
    if (n == 0)
        return;
    const size_t at = m_bytes.size();
    m_bytes.resize(at + n);
    std::memcpy(m_bytes.data() + at, data, n);
}

} // namespace corla
