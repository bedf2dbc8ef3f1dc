// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// CRC-16/ARC: polynomial 0x8005 reflected, initial value 0, no final XOR.
// Closes every discovery frame; computed byte by byte from the table.

#include <array>
#include <cstdint>

namespace corla {

// Entry i is the CRC of the single byte i.
extern const std::array<uint16_t, 256> ausCrc16Table;

uint16_t crcUpdate(uint8_t byte, uint16_t crc);
// One call covers at most 65535 bytes; an empty block gives 0.
uint16_t calculateCrc(const uint8_t* data, uint16_t length);

} // namespace corla
