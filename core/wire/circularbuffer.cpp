// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/wire/circularbuffer.h"

#include <algorithm>
#include <cstring>

namespace corla {

CircularByteBuffer::CircularByteBuffer(uint64_t capacity)
    : m_capacity(capacity), m_data(new uint8_t[capacity > 0 ? capacity : 1])
{}

CircularByteBuffer::~CircularByteBuffer() = default;

uint64_t CircularByteBuffer::write(const uint8_t* source, uint64_t n)
{
    const uint64_t m = std::min(n, m_capacity - m_count);
    if (m == 0)
        return 0;
    const uint64_t toEnd = m_capacity - m_writeIndex;
    if (toEnd >= m) {
        std::memcpy(m_data.get() + m_writeIndex, source, m);
        m_writeIndex += m;
        if (m_writeIndex == m_capacity)
            m_writeIndex = 0;
    } else {
        std::memcpy(m_data.get() + m_writeIndex, source, toEnd);
        std::memcpy(m_data.get(), source + toEnd, m - toEnd);
        m_writeIndex = m - toEnd;
    }
    m_count += m;
    return m;
}

uint64_t CircularByteBuffer::read(uint8_t* destination, uint64_t n)
{
    const uint64_t m = std::min(n, m_count);
    if (m == 0)
        return 0;
    const uint64_t toEnd = m_capacity - m_readIndex;
    if (toEnd >= m) {
        std::memcpy(destination, m_data.get() + m_readIndex, m);
        m_readIndex += m;
        if (m_readIndex == m_capacity)
            m_readIndex = 0;
    } else {
        std::memcpy(destination, m_data.get() + m_readIndex, toEnd);
        std::memcpy(destination + toEnd, m_data.get(), m - toEnd);
        m_readIndex = m - toEnd;
    }
    m_count -= m;
    return m;
}

} // namespace corla
