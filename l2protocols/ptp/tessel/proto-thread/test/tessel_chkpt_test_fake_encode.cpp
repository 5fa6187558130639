// The record encoding of the tables' test: each record is "encoded" as a short text naming it, so
// the stored bytes show which record was written.
#include <cstring>

#include "tessel_chkpt_test_fake.h"

namespace {

void encode_text(const std::string &text, uint8_t *buffer, size_t *len)
{
    chkpt_fake.encoded.push_back(text);
    std::memcpy(buffer, text.data(), text.size());
    *len = text.size();
}

} // namespace

void tessel_gpb_if_encode(tessel_chkpt_if_type *rec, uint8_t *buffer, size_t *len)
{
    const size_t size = tessel_chkpt_if_size(rec->num_ipv4_addr, rec->num_ipv6_addr);
    const auto *bytes = reinterpret_cast<const uint8_t *>(rec);
    chkpt_fake.if_rec.assign(bytes, bytes + size);
    encode_text("if:" + std::string(rec->ifname) + ":" + std::to_string(rec->port_state), buffer, len);
    if (chkpt_fake.if_too_big) {
        *len = 0;
    }
}

void tessel_gpb_gl_encode(tessel_chkpt_gl_type *rec, uint8_t *buffer, size_t *len)
{
    chkpt_fake.gl = *rec;
    encode_text("gl:" + std::to_string(rec->profile), buffer, len);
}

void tessel_gpb_unicast_grant_encode(tessel_chkpt_unicast_grant_type *rec, uint8_t *buffer, size_t *len)
{
    chkpt_fake.grant = *rec;
    encode_text("grant:" + std::string(rec->ifname) + ":" + std::to_string(rec->grant_flags), buffer, len);
}

void tessel_gpb_peer_index_encode(tessel_chkpt_peer_index_type *rec, uint8_t *buffer, size_t *len)
{
    chkpt_fake.peer_index = *rec;
    encode_text("peer_index:" + std::string(rec->ifname) + ":" + std::to_string(rec->peer_index), buffer, len);
}
