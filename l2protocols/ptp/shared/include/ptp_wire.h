// Big-endian loads and stores of fixed-width values at byte pointers: every record that goes on
// the wire, into shared memory or into a checkpoint is written byte by byte with these, never by
// copying a struct. The caller has checked that the bytes are there.
#pragma once

#include <cstdint>

constexpr uint8_t ptp_wire_get8(const uint8_t *p)
{
    return p[0];
}

constexpr uint16_t ptp_wire_get16(const uint8_t *p)
{
    return static_cast<uint16_t>(uint16_t{p[0]} << 8 | p[1]);
}

constexpr uint32_t ptp_wire_get32(const uint8_t *p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// The 48-bit seconds field of a PTP timestamp.
constexpr uint64_t ptp_wire_get48(const uint8_t *p)
{
    return uint64_t{ptp_wire_get16(p)} << 32 | ptp_wire_get32(p + 2);
}

constexpr uint64_t ptp_wire_get64(const uint8_t *p)
{
    return uint64_t{ptp_wire_get32(p)} << 32 | ptp_wire_get32(p + 4);
}

constexpr void ptp_wire_put8(uint8_t *p, uint8_t v)
{
    p[0] = v;
}

constexpr void ptp_wire_put16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

constexpr void ptp_wire_put32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// The low 48 bits of v (the seconds field of a PTP timestamp).
constexpr void ptp_wire_put48(uint8_t *p, uint64_t v)
{
    ptp_wire_put16(p, static_cast<uint16_t>(v >> 32));
    ptp_wire_put32(p + 2, static_cast<uint32_t>(v));
}

constexpr void ptp_wire_put64(uint8_t *p, uint64_t v)
{
    ptp_wire_put32(p, static_cast<uint32_t>(v >> 32));
    ptp_wire_put32(p + 4, static_cast<uint32_t>(v));
}
