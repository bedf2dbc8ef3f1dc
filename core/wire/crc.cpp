// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/wire/crc.h"

namespace corla {

namespace {

constexpr std::array<uint16_t, 256> makeTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001u)
                             : static_cast<uint16_t>(crc >> 1);
        table[i] = crc;
    }
    return table;
}

} // namespace

const std::array<uint16_t, 256> ausCrc16Table = makeTable();

uint16_t crcUpdate(uint8_t byte, uint16_t crc)
{
    return static_cast<uint16_t>((crc >> 8) ^ ausCrc16Table[(crc ^ byte) & 0xFFu]);
}

uint16_t calculateCrc(const uint8_t* data, uint16_t length)
{
    uint16_t crc = 0;
    for (uint16_t i = 0; i < length; ++i)
        crc = crcUpdate(data[i], crc);
    return crc;
}

} // namespace corla
