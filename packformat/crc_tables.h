// packformat/: the on-disk formats of the pack store and of patch files, pure: no I/O, no globals
// beyond constant tables. Shared by the launcher's pack store, the pack-store library and the
// operator tools.
//
// The two published CRC lookup tables serve only as tables of XOR masks for fields of the index and
// of patch files; nothing is checksummed.
#pragma once

#include <array>
#include <cstdint>

namespace packformat {

namespace detail {
constexpr std::array<uint16_t, 256> makeCrc16Arc() {
    std::array<uint16_t, 256> t{};
    for (unsigned n = 0; n < 256; ++n) {
        uint16_t r = static_cast<uint16_t>(n);
        for (int k = 0; k < 8; ++k) r = static_cast<uint16_t>((r & 1) ? (r >> 1) ^ 0xA001 : r >> 1);
        t[n] = r;
    }
    return t;
}
constexpr std::array<uint8_t, 256> makeCrc8Maxim() {
    std::array<uint8_t, 256> t{};
    for (unsigned n = 0; n < 256; ++n) {
        uint8_t r = static_cast<uint8_t>(n);
        for (int k = 0; k < 8; ++k) r = static_cast<uint8_t>((r & 1) ? (r >> 1) ^ 0x8C : r >> 1);
        t[n] = r;
    }
    return t;
}
}  // namespace detail

// CRC-16/ARC (reflected polynomial 0xA001), 256 entries.
inline constexpr std::array<uint16_t, 256> Crc16ArcTable = detail::makeCrc16Arc();
// CRC-8/MAXIM, the Dallas/Maxim 1-Wire CRC (reflected polynomial 0x8C), 256 entries.
inline constexpr std::array<uint8_t, 256> Crc8MaximTable = detail::makeCrc8Maxim();

static_assert(Crc16ArcTable[1] == 0xC0C1 && Crc16ArcTable[255] == 0x4040, "CRC-16/ARC table");
static_assert(Crc8MaximTable[1] == 0x5E && Crc8MaximTable[255] == 0x35, "CRC-8/MAXIM table");

}  // namespace packformat
