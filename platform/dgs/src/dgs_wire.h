// Big-endian words of the group-services frames, for both ends. Private to this library.
#pragma once

#include <cstdint>
#include <vector>

namespace dgs_wire {

inline void put32(std::vector<uint8_t> &b, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        b.push_back(static_cast<uint8_t>(v >> s));
}
inline void put64(std::vector<uint8_t> &b, uint64_t v)
{
    put32(b, static_cast<uint32_t>(v >> 32));
    put32(b, static_cast<uint32_t>(v));
}
inline uint32_t get32(const uint8_t *p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
inline uint64_t get64(const uint8_t *p)
{
    return uint64_t{get32(p)} << 32 | get32(p + 4);
}

} // namespace dgs_wire
