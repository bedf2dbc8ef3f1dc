// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Fixed-capacity byte FIFO. Received datagrams are poured in; the discovery
// parser takes whole fields out. Storage is allocated once, at construction;
// every write and read is at most two block copies.
//
// A full buffer refuses what does not fit: write() stores only the bytes for
// which there is room and returns that number. Callers that care must check it.

#include <cstdint>
#include <memory>

namespace corla {

class CircularByteBuffer
{
public:
    explicit CircularByteBuffer(uint64_t capacity);
    ~CircularByteBuffer();
    CircularByteBuffer(const CircularByteBuffer&) = delete;
    CircularByteBuffer& operator=(const CircularByteBuffer&) = delete;

    // Returns the number of bytes stored (less than n when the buffer fills up).
    uint64_t write(const uint8_t* source, uint64_t n);
    // Returns the number of bytes delivered (less than n when fewer are stored);
    // an empty buffer leaves the destination untouched.
    uint64_t read(uint8_t* destination, uint64_t n);
    // Forgets every stored byte.
    void clear() { m_readIndex = m_writeIndex = m_count = 0; }

    uint64_t count() const { return m_count; }
    uint64_t capacity() const { return m_capacity; }
    uint64_t freeSpace() const { return m_capacity - m_count; }
    bool isEmpty() const { return m_count == 0; }
    bool isFull() const { return m_count == m_capacity; }

private:
    uint64_t m_readIndex = 0;
    uint64_t m_writeIndex = 0;
    uint64_t m_count = 0;
    uint64_t m_capacity;
    std::unique_ptr<uint8_t[]> m_data;
};

} // namespace corla
