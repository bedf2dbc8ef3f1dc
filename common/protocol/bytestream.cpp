// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "bytestream.h"

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
