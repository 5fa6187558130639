// The agent's checkpoint records as byte strings: the message structures that carry them and
// their codec (pack, unpack and free, one of each per message type) in the protocol-buffers wire
// format, varint and length-delimited fields only. The codec knows nothing of the agent's
// records; the encoding glue fills and checks these structures.
//
// Each structure holds its fields in field-number order, then a presence word: bit n - 1 for
// field n. A bytes field is a pointer and a length; after unpacking the pointer owns a block from
// the caller's allocator, which the free operation returns through the caller's free function.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Unpack results.
constexpr int ZIDL_TESSEL_GPB_OK = 0;
// The input ends inside a tag, varint or length; a length runs past the end; a bytes field (or a
// sub-message that holds one) occurs twice in one message.
constexpr int ZIDL_TESSEL_GPB_TRUNCATED = -1;
// An unknown field has wire type 3, 4, 6 or 7.
constexpr int ZIDL_TESSEL_GPB_BAD_UNKNOWN_WIRE_TYPE = -2;
// A known field carries the wrong wire type.
constexpr int ZIDL_TESSEL_GPB_BAD_WIRE_TYPE = -3;
// The allocator returned null, or none was given for a bytes field.
constexpr int ZIDL_TESSEL_GPB_NO_MEMORY = -4;

// Returns a zero-filled block of size bytes, or null.
using zidl_tessel_gpb_alloc_fn = void *(*)(size_t size, void *context);
using zidl_tessel_gpb_free_fn = void (*)(void *block, void *context);

// Flags of the free operations: the message borrows its byte strings, nothing is freed.
constexpr uint32_t ZIDL_TESSEL_GPB_FREE_BORROWED = 1u << 0;

// The presence bit of field number n.
constexpr uint32_t zidl_tessel_gpb_bit(unsigned n)
{
    return 1u << (n - 1);
}

struct zidl_tessel_gpb_bytes {
    uint8_t *data;
    uint64_t len;
    // Equal contents, wherever they are held.
    bool operator==(const zidl_tessel_gpb_bytes &o) const
    {
        return len == o.len && (len == 0 || std::memcmp(data, o.data, len) == 0);
    }
};

struct zidl_tessel_gpb_utc_offset {
    uint32_t current_offset;
    uint8_t offset_valid;
    uint32_t present;
    bool operator==(const zidl_tessel_gpb_utc_offset &) const = default;
};

struct zidl_tessel_gpb_traceable {
    uint8_t frequency_traceable;
    uint8_t time_traceable;
    uint32_t present;
    bool operator==(const zidl_tessel_gpb_traceable &) const = default;
};

struct zidl_tessel_gpb_port_id {
    uint64_t clock_id;
    uint32_t port_num;
    uint32_t present;
    bool operator==(const zidl_tessel_gpb_port_id &) const = default;
};

struct zidl_tessel_gpb_local_clock {
    uint64_t clock_id;
    uint32_t domain;
    uint32_t present;
    bool operator==(const zidl_tessel_gpb_local_clock &) const = default;
};

struct zidl_tessel_gpb_address {
    uint32_t address_type;
    zidl_tessel_gpb_bytes address;
    uint32_t present;
    bool operator==(const zidl_tessel_gpb_address &) const = default;
};

struct zidl_tessel_gpb_source_ip {
    uint8_t enable;
    zidl_tessel_gpb_bytes ip_address;
    uint32_t present;
    bool operator==(const zidl_tessel_gpb_source_ip &) const = default;
};

struct zidl_tessel_gpb_source_ipv6 {
    uint8_t enable;
    zidl_tessel_gpb_bytes ip_address;
    uint32_t present;
    bool operator==(const zidl_tessel_gpb_source_ipv6 &) const = default;
};

struct zidl_tessel_gpb_clock_operation {
    uint8_t one_step;
    uint32_t present;
    bool operator==(const zidl_tessel_gpb_clock_operation &) const = default;
};

struct zidl_tessel_gpb_clock {
    uint64_t clock_id;
    uint32_t priority1;
    uint32_t clock_class;
    uint32_t accuracy;
    uint32_t offset_log_variance;
    uint32_t priority2;
    uint32_t steps_removed;
    uint32_t time_source;
    zidl_tessel_gpb_utc_offset utc_offset;
    zidl_tessel_gpb_traceable traceable;
    uint32_t timescale;
    uint32_t leap_seconds;
    zidl_tessel_gpb_port_id sender;
    zidl_tessel_gpb_port_id receiver;
    uint8_t local;
    uint32_t configured_clock_class;
    uint32_t configured_priority;
    uint32_t present;
    bool operator==(const zidl_tessel_gpb_clock &) const = default;
};

struct zidl_tessel_gpb_foreign_master {
    zidl_tessel_gpb_address address;
    zidl_tessel_gpb_address second_address;
    zidl_tessel_gpb_clock clock;
    uint32_t master_word_1;
    uint32_t configured_priority;
    uint32_t master_word_3;
    uint8_t priority_configured;
    uint32_t configured_clock_class;
    uint8_t clock_class_configured;
    uint8_t master_state_flag;
    uint8_t in_master_table;
    uint32_t present;
    bool operator==(const zidl_tessel_gpb_foreign_master &) const = default;
};

struct zidl_tessel_gpb_config {
    uint32_t encapsulation;
    uint32_t log_announce_interval;
    uint32_t announce_timeout;
    uint32_t log_sync_interval;
    uint32_t log_min_delay_req_interval;
    uint32_t transport;
    zidl_tessel_gpb_clock_operation clock_operation;
    uint32_t port_state_config;
    zidl_tessel_gpb_source_ip source_ip;
    zidl_tessel_gpb_source_ipv6 source_ipv6;
    uint32_t sync_receive_timeout;
    uint32_t delay_resp_receive_timeout;
    uint8_t deny_invalid_grants;
    uint32_t announce_grant_duration;
    uint32_t sync_grant_duration;
    uint32_t delay_resp_grant_duration;
    uint32_t local_priority;
    zidl_tessel_gpb_address multicast_address;
    uint32_t cos;
    uint32_t general_cos;
    uint32_t event_cos;
    uint32_t dscp;
    uint32_t general_dscp;
    uint32_t event_dscp;
    uint32_t ipv4_ttl;
    uint32_t ipv6_hop_limit;
    uint32_t present;
    bool operator==(const zidl_tessel_gpb_config &) const = default;
};

// One port (interface and virtual-interface tables alike).
struct zidl_tessel_gpb_if {
    zidl_tessel_gpb_bytes ifname;
    uint32_t ifhandle;
    uint32_t iftype;
    uint32_t port_num;
    uint32_t port_state;
    uint32_t im_state;
    uint8_t ether_info_known;
    zidl_tessel_gpb_bytes ether_info;
    uint32_t ether_info_len;
    zidl_tessel_gpb_bytes ip_address;
    zidl_tessel_gpb_bytes ipv6_address;
    uint8_t vrf_known;
    uint32_t vrf;
    uint8_t foreign_master_present;
    zidl_tessel_gpb_foreign_master foreign_master;
    zidl_tessel_gpb_config config;
    uint32_t num_ipv4_addr;
    uint32_t num_ipv6_addr;
    zidl_tessel_gpb_bytes addr_list;
    uint32_t present;
    bool operator==(const zidl_tessel_gpb_if &) const = default;
};

// The node's one global record.
struct zidl_tessel_gpb_gl {
    uint8_t local_clock_present;
    zidl_tessel_gpb_local_clock local_clock;
    uint8_t bmc_present;
    zidl_tessel_gpb_clock bmc;
    zidl_tessel_gpb_clock advertised;
    uint8_t synced;
    uint8_t supports_slave;
    uint32_t reserved_1;
    uint32_t reserved_2;
    uint8_t selected;
    uint32_t profile;
    uint32_t profile_version;
    uint8_t min_clock_class_present;
    uint32_t min_clock_class;
    uint32_t present;
    bool operator==(const zidl_tessel_gpb_gl &) const = default;
};

// The grants held by one unicast peer.
struct zidl_tessel_gpb_unicast_grant {
    zidl_tessel_gpb_bytes ifname;
    uint32_t ifhandle;
    zidl_tessel_gpb_address peer_addr;
    zidl_tessel_gpb_address second_address;
    zidl_tessel_gpb_port_id peer_port_id;
    uint8_t is_announce_granted;
    uint8_t is_sync_granted;
    uint8_t is_delay_resp_granted;
    uint32_t announce_grant_duration;
    uint32_t sync_grant_duration;
    uint32_t delay_resp_grant_duration;
    uint32_t announce_expiry_time;
    uint32_t sync_expiry_time;
    uint32_t delay_resp_expiry_time;
    uint8_t is_nonnegotiated;
    uint32_t log_announce_interval;
    uint32_t log_sync_interval;
    uint32_t log_delay_resp_interval;
    uint32_t req_log_announce_interval;
    uint32_t req_log_sync_interval;
    uint32_t req_log_delay_resp_interval;
    uint32_t present;
    bool operator==(const zidl_tessel_gpb_unicast_grant &) const = default;
};

// One peer index.
struct zidl_tessel_gpb_peer_index {
    zidl_tessel_gpb_bytes ifname;
    zidl_tessel_gpb_address address;
    uint32_t peer_index;
    uint32_t present;
    bool operator==(const zidl_tessel_gpb_peer_index &) const = default;
};

// Pack: writes the message into buffer and returns its packed length. Nothing is written at or
// beyond capacity, and the full length is returned even when the buffer was too small; with no
// buffer and capacity 0 it only measures.
//
// Unpack: clears the message, then decodes bytes[0, length) into it; 0 or a negative result.
// On failure the message keeps what was decoded so far, blocks included: free it either way.
//
// Free: hands every block that unpacking allocated to free_fn (unless the flags say the message
// borrows them) and clears the pointers.
size_t zidl_tessel_gpb_if_pack(const zidl_tessel_gpb_if *message, uint8_t *buffer, size_t capacity);
int zidl_tessel_gpb_if_unpack(zidl_tessel_gpb_if *message, const uint8_t *bytes, size_t length,
                              zidl_tessel_gpb_alloc_fn alloc, void *context);
void zidl_tessel_gpb_if_free(zidl_tessel_gpb_if *message, zidl_tessel_gpb_free_fn free_fn, void *context,
                             uint32_t flags);

size_t zidl_tessel_gpb_gl_pack(const zidl_tessel_gpb_gl *message, uint8_t *buffer, size_t capacity);
int zidl_tessel_gpb_gl_unpack(zidl_tessel_gpb_gl *message, const uint8_t *bytes, size_t length,
                              zidl_tessel_gpb_alloc_fn alloc, void *context);
void zidl_tessel_gpb_gl_free(zidl_tessel_gpb_gl *message, zidl_tessel_gpb_free_fn free_fn, void *context,
                             uint32_t flags);

size_t zidl_tessel_gpb_unicast_grant_pack(const zidl_tessel_gpb_unicast_grant *message, uint8_t *buffer,
                                          size_t capacity);
int zidl_tessel_gpb_unicast_grant_unpack(zidl_tessel_gpb_unicast_grant *message, const uint8_t *bytes, size_t length,
                                         zidl_tessel_gpb_alloc_fn alloc, void *context);
void zidl_tessel_gpb_unicast_grant_free(zidl_tessel_gpb_unicast_grant *message, zidl_tessel_gpb_free_fn free_fn,
                                        void *context, uint32_t flags);

size_t zidl_tessel_gpb_peer_index_pack(const zidl_tessel_gpb_peer_index *message, uint8_t *buffer, size_t capacity);
int zidl_tessel_gpb_peer_index_unpack(zidl_tessel_gpb_peer_index *message, const uint8_t *bytes, size_t length,
                                      zidl_tessel_gpb_alloc_fn alloc, void *context);
void zidl_tessel_gpb_peer_index_free(zidl_tessel_gpb_peer_index *message, zidl_tessel_gpb_free_fn free_fn,
                                     void *context, uint32_t flags);

size_t zidl_tessel_gpb_foreign_master_pack(const zidl_tessel_gpb_foreign_master *message, uint8_t *buffer,
                                           size_t capacity);
int zidl_tessel_gpb_foreign_master_unpack(zidl_tessel_gpb_foreign_master *message, const uint8_t *bytes, size_t length,
                                          zidl_tessel_gpb_alloc_fn alloc, void *context);
void zidl_tessel_gpb_foreign_master_free(zidl_tessel_gpb_foreign_master *message, zidl_tessel_gpb_free_fn free_fn,
                                         void *context, uint32_t flags);

size_t zidl_tessel_gpb_config_pack(const zidl_tessel_gpb_config *message, uint8_t *buffer, size_t capacity);
int zidl_tessel_gpb_config_unpack(zidl_tessel_gpb_config *message, const uint8_t *bytes, size_t length,
                                  zidl_tessel_gpb_alloc_fn alloc, void *context);
void zidl_tessel_gpb_config_free(zidl_tessel_gpb_config *message, zidl_tessel_gpb_free_fn free_fn, void *context,
                                 uint32_t flags);

size_t zidl_tessel_gpb_clock_pack(const zidl_tessel_gpb_clock *message, uint8_t *buffer, size_t capacity);
int zidl_tessel_gpb_clock_unpack(zidl_tessel_gpb_clock *message, const uint8_t *bytes, size_t length);
void zidl_tessel_gpb_clock_free(zidl_tessel_gpb_clock *message, zidl_tessel_gpb_free_fn free_fn, void *context,
                                uint32_t flags);

size_t zidl_tessel_gpb_utc_offset_pack(const zidl_tessel_gpb_utc_offset *message, uint8_t *buffer, size_t capacity);
int zidl_tessel_gpb_utc_offset_unpack(zidl_tessel_gpb_utc_offset *message, const uint8_t *bytes, size_t length);
void zidl_tessel_gpb_utc_offset_free(zidl_tessel_gpb_utc_offset *message, zidl_tessel_gpb_free_fn free_fn,
                                     void *context, uint32_t flags);

size_t zidl_tessel_gpb_traceable_pack(const zidl_tessel_gpb_traceable *message, uint8_t *buffer, size_t capacity);
int zidl_tessel_gpb_traceable_unpack(zidl_tessel_gpb_traceable *message, const uint8_t *bytes, size_t length);
void zidl_tessel_gpb_traceable_free(zidl_tessel_gpb_traceable *message, zidl_tessel_gpb_free_fn free_fn, void *context,
                                    uint32_t flags);

size_t zidl_tessel_gpb_port_id_pack(const zidl_tessel_gpb_port_id *message, uint8_t *buffer, size_t capacity);
int zidl_tessel_gpb_port_id_unpack(zidl_tessel_gpb_port_id *message, const uint8_t *bytes, size_t length);
void zidl_tessel_gpb_port_id_free(zidl_tessel_gpb_port_id *message, zidl_tessel_gpb_free_fn free_fn, void *context,
                                  uint32_t flags);

size_t zidl_tessel_gpb_local_clock_pack(const zidl_tessel_gpb_local_clock *message, uint8_t *buffer, size_t capacity);
int zidl_tessel_gpb_local_clock_unpack(zidl_tessel_gpb_local_clock *message, const uint8_t *bytes, size_t length);
void zidl_tessel_gpb_local_clock_free(zidl_tessel_gpb_local_clock *message, zidl_tessel_gpb_free_fn free_fn,
                                      void *context, uint32_t flags);

size_t zidl_tessel_gpb_address_pack(const zidl_tessel_gpb_address *message, uint8_t *buffer, size_t capacity);
int zidl_tessel_gpb_address_unpack(zidl_tessel_gpb_address *message, const uint8_t *bytes, size_t length,
                                   zidl_tessel_gpb_alloc_fn alloc, void *context);
void zidl_tessel_gpb_address_free(zidl_tessel_gpb_address *message, zidl_tessel_gpb_free_fn free_fn, void *context,
                                  uint32_t flags);

size_t zidl_tessel_gpb_source_ip_pack(const zidl_tessel_gpb_source_ip *message, uint8_t *buffer, size_t capacity);
int zidl_tessel_gpb_source_ip_unpack(zidl_tessel_gpb_source_ip *message, const uint8_t *bytes, size_t length,
                                     zidl_tessel_gpb_alloc_fn alloc, void *context);
void zidl_tessel_gpb_source_ip_free(zidl_tessel_gpb_source_ip *message, zidl_tessel_gpb_free_fn free_fn, void *context,
                                    uint32_t flags);

size_t zidl_tessel_gpb_source_ipv6_pack(const zidl_tessel_gpb_source_ipv6 *message, uint8_t *buffer, size_t capacity);
int zidl_tessel_gpb_source_ipv6_unpack(zidl_tessel_gpb_source_ipv6 *message, const uint8_t *bytes, size_t length,
                                       zidl_tessel_gpb_alloc_fn alloc, void *context);
void zidl_tessel_gpb_source_ipv6_free(zidl_tessel_gpb_source_ipv6 *message, zidl_tessel_gpb_free_fn free_fn,
                                      void *context, uint32_t flags);

size_t zidl_tessel_gpb_clock_operation_pack(const zidl_tessel_gpb_clock_operation *message, uint8_t *buffer,
                                            size_t capacity);
int zidl_tessel_gpb_clock_operation_unpack(zidl_tessel_gpb_clock_operation *message, const uint8_t *bytes,
                                           size_t length);
void zidl_tessel_gpb_clock_operation_free(zidl_tessel_gpb_clock_operation *message, zidl_tessel_gpb_free_fn free_fn,
                                          void *context, uint32_t flags);
