// The keys of the group-services trace records: the high bits are the argument descriptor (bits
// 32-39 the count, from bit 40 one flag per text argument), the low 32 bits number the record
// within its buffer. The writers (dgs.cpp) and the display tool's texts
// (group-services-tools) take them from here.
#pragma once

#include <cstdint>

// Buffer "dgs".
inline constexpr uint64_t DGS_TRACE_BIND = 0x10100000000;         // name
inline constexpr uint64_t DGS_TRACE_BIND_CREATED = 0x10500000001; // name, handle (2 words), low and high port
inline constexpr uint64_t DGS_TRACE_DESTROY = 0x10400000002;      // name, remote handle (2 words), references
inline constexpr uint64_t DGS_TRACE_UNBIND = 0x10400000003;       // name, local handle (2 words), references
inline constexpr uint64_t DGS_TRACE_INPUT_RECV = 0x200000004;     // socket, count
inline constexpr uint64_t DGS_TRACE_ENDP_TO_HDL = 0x10700000005;  // name, node, owner handle, handle, references
inline constexpr uint64_t DGS_TRACE_INPUT_DONE = 0x200000006;     // socket, count

// Buffer "dgs_err".
inline constexpr uint64_t DGS_TRACE_ERR_BIND_CONFLICT = 0x10300000000; // name, handle (2 words)
inline constexpr uint64_t DGS_TRACE_ERR_BIND_EXISTS = 0x10400000001;   // name, handle (2 words), references
inline constexpr uint64_t DGS_TRACE_ERR_DESTROY_MISSING = 0x200000002; // handle (2 words)
inline constexpr uint64_t DGS_TRACE_ERR_ENDP_UNDECODED = 0x100000003;  // the address's first word (its text reads two)
inline constexpr uint64_t DGS_TRACE_ERR_ENDP_MISSING_ARGS = 4;         // none
inline constexpr uint64_t DGS_TRACE_ERR_ENDP_MISS_PORTS = 0x10400000005; // name, node, owner handle
inline constexpr uint64_t DGS_TRACE_ERR_ERROR = 0x10300000006;           // function, line, error

constexpr uint32_t dgs_trace_nargs(uint64_t key)
{
    return static_cast<uint32_t>(key >> 32) & 0xff;
}
constexpr uint32_t dgs_trace_text_mask(uint64_t key)
{
    return static_cast<uint32_t>(key >> 40) & 0xff;
}
