// Feeds arbitrary stored bytes to the unpackers of the agent's four checkpoint records. The first
// byte picks the record kind, the rest is the record (in a block of exactly its size). Whatever
// decodes must pack again to bytes that decode to the same message; every block is freed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "zidl_tessel_gpb.h"

namespace {

void *fuzz_alloc(size_t size, void *)
{
    return std::calloc(size == 0 ? 1 : size, 1);
}

void fuzz_free(void *block, void *)
{
    std::free(block);
}

template <typename M>
void check(const std::vector<uint8_t> &in,
           int (*unpack)(M *, const uint8_t *, size_t, zidl_tessel_gpb_alloc_fn, void *),
           size_t (*pack)(const M *, uint8_t *, size_t),
           void (*release)(M *, zidl_tessel_gpb_free_fn, void *, uint32_t))
{
    M first{};
    const int rc = unpack(&first, in.empty() ? nullptr : in.data(), in.size(), fuzz_alloc, nullptr);
    if (rc > 0 || rc < -4) {
        std::abort();
    }
    if (rc == 0) {
        const size_t size = pack(&first, nullptr, 0);
        std::vector<uint8_t> packed(size);
        if (pack(&first, packed.data(), packed.size()) != size) {
            std::abort();
        }
        M second{};
        if (unpack(&second, packed.empty() ? nullptr : packed.data(), packed.size(), fuzz_alloc, nullptr) != 0 ||
            !(second == first)) {
            std::abort();
        }
        release(&second, fuzz_free, nullptr, 0);
    }
    release(&first, fuzz_free, nullptr, 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    const std::vector<uint8_t> in(data + 1, data + size);
    switch (data[0] & 3) {
    case 0: check(in, zidl_tessel_gpb_if_unpack, zidl_tessel_gpb_if_pack, zidl_tessel_gpb_if_free); break;
    case 1: check(in, zidl_tessel_gpb_gl_unpack, zidl_tessel_gpb_gl_pack, zidl_tessel_gpb_gl_free); break;
    case 2:
        check(in, zidl_tessel_gpb_unicast_grant_unpack, zidl_tessel_gpb_unicast_grant_pack,
              zidl_tessel_gpb_unicast_grant_free);
        break;
    default:
        check(in, zidl_tessel_gpb_peer_index_unpack, zidl_tessel_gpb_peer_index_pack, zidl_tessel_gpb_peer_index_free);
        break;
    }
    return 0;
}
