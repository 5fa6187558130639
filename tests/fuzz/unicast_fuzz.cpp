// Feeds Signaling messages to the real receive dispatch and unicast negotiation of one port, as
// master (granting to its unicast slaves) and as slave (negotiating with the masters of its
// master table) at once, with virtual-time advances, offload-session reports, Announces and
// state-machine operations in between. Packet transmit and the managed timers are the real
// ones (the port is attached to an in-memory interface); the state machine's other services are
// the recording fakes of the negotiation interop tests.
//
// Input: four configuration bytes (see config_apply), then records, each an operation byte
// (low nibble: operation, high nibble: its argument) and the operation's bytes. After every
// record the harness checks what a peer must never be able to break: every message sent is a
// well-formed Signaling message that fits the transmit area, every unicast TLV whose length
// disagrees with its type is one counted drop, the peer counts match the peer tree, no peer
// entry outlives its grants, every grant has its timer running, and a unicast master of the
// table (and the one the port slaves to, for Sync and Delay-Resp) is always either granted or
// being asked again. UNICAST_FUZZ_VERBOSE=1 prints each record and what it left behind.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "eth_encap.h"
#include "evm.h"
#include "interop_agent_threads.h"
#include "interop_neighbours.h"
#include "mgd_timer.h"
#include "pktio_test.h"
#include "plat_clock.h"
#include "plat_clock_test.h"
#include "ptp_address.h"
#include "ptp_strings.h"
#include "tessel_fsm.h"
#include "tessel_fsm_announce.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_signaling.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast.h"
#include "tessel_master_db.h"
#include "tessel_mgd_timer.h"
#include "tessel_packet.h"
#include "tessel_peer_index.h"
#include "tessel_proto_db.h"
#include "tessel_slave_db.h"
#include "tessel_stats.h"

namespace {

constexpr uint64_t LOCAL_ID = 0x0011223344556677ull;
constexpr uint64_t PEER_ID_BASE = 0x0A0000FFFE000100ull;
constexpr uint16_t OWN_PORT = 3;
constexpr size_t MSG_AREA = 100; // the transmit path's message area
constexpr size_t MAX_RECORDS = 96;
constexpr uint32_t MAX_ADVANCE_S = 1500;
constexpr uint32_t PEERS = 8; // source addresses; the first four can be table masters

constexpr uint8_t OWN_MAC[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr uint8_t OWN_V4[4] = {10, 0, 0, 1};
constexpr uint8_t OWN_V6[16] = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

bool verbose()
{
    static const bool on = std::getenv("UNICAST_FUZZ_VERBOSE") != nullptr;
    return on;
}

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "unicast_fuzz: %s\n", what);
    std::abort();
}

struct port_slot {
    uint32_t encap;
    uint32_t ifhandle;
    tessel_proto_idb_type *port;
    tessel_proto_idb_fsm fsm_at_start;
};

struct env_type {
    event_mgr_type *evm = nullptr;
    port_slot ports[3] = {{PTP_ENCAP_ETHERNET, 0x100, nullptr, {}},
                          {PTP_ENCAP_IPV4, 0x200, nullptr, {}},
                          {PTP_ENCAP_IPV6, 0x300, nullptr, {}}};
};

void grant_change(ptp_fsm_peer_entry_type *, int) {}
void fm_change(tessel_proto_idb_type *port);

env_type &env()
{
    static env_type *e = [] {
        auto *x = new env_type;
        plat_clock_use_virtual();
        x->evm = event_create_manager(nullptr, nullptr, 0);
        pktio_test_reset();
        if (tessel_proto_db_init() != 0 || tessel_packet_init(x->evm) != 0 || tessel_mgd_timer_init(x->evm) != 0) {
            fail("set-up of the packet module or the managed timers");
        }
        ptp_fsm_callbacks_type cb{};
        cb.unicast_grant_change = grant_change;
        cb.foreign_master_change = fm_change;
        if (ptp_fsm_module_init(&cb) != 0) {
            fail("negotiation module init");
        }
        const char *names[3] = {"Gi0/0/0/1", "Gi0/0/0/2", "Gi0/0/0/3"};
        for (int i = 0; i < 3; i++) {
            port_slot &s = x->ports[i];
            if (pktio_test_intf_add(names[i], s.ifhandle, OWN_MAC) != 0 ||
                tessel_proto_db_create(names[i], &s.port) != 0) {
                fail("port creation");
            }
            tessel_proto_idb_type *p = s.port;
            tessel_proto_db_add_ifhandle(s.ifhandle, p);
            p->ether_info_len = eth_encap_attr_build(OWN_MAC, nullptr, 0, p->ether_info, sizeof p->ether_info);
            p->if_type = 1;
            p->port_num = OWN_PORT;
            p->config.encap = s.encap;
            p->config.general_cos = 3;
            p->config.event_cos = 5;
            p->config.general_dscp = 10;
            p->config.event_dscp = 46;
            p->config.ipv4_ttl = 5;
            p->config.ipv6_hop_limit = 6;
            p->config.source_ip.address = 0xFFFFFFFFu;
            std::memcpy(&p->ipv4_addr, OWN_V4, 4);
            std::memcpy(p->ipv6_addr, OWN_V6, 16);
            p->flags |= TESSEL_PROTO_IDB_PORT_MGR_READY;
            if (tessel_peer_index_idb_init(p) != 0) {
                fail("peer index tree");
            }
            tessel_packet_attach(p);
            tessel_packet_process_attach();
            if (p->is_spio_attached == 0) {
                fail("port attach");
            }
            s.fsm_at_start = p->fsm;
        }
        return x;
    }();
    return *e;
}

ptp_address_type address_of(uint32_t encap, uint32_t index, bool own = false)
{
    ptp_address_type a{};
    if (encap == PTP_ENCAP_IPV4) {
        uint8_t ip[4] = {10, 0, 1, static_cast<uint8_t>(index + 1)};
        ptp_address_set_ipv4(&a, own ? OWN_V4 : ip);
    } else if (encap == PTP_ENCAP_IPV6) {
        uint8_t ip[16] = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, static_cast<uint8_t>(index + 1)};
        ptp_address_set_ipv6(&a, own ? OWN_V6 : ip);
    } else {
        uint8_t mac[6] = {0x02, 0x00, 0x00, 0x00, 0x01, static_cast<uint8_t>(index + 1)};
        ptp_address_set_mac(&a, own ? OWN_MAC : mac);
    }
    return a;
}

// ---- Reading the input ----

struct reader {
    const uint8_t *data;
    size_t size;
    size_t pos = 0;
    bool empty() const { return pos >= size; }
    uint8_t u8() { return pos < size ? data[pos++] : 0; }
    uint32_t u32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; i++) {
            v = v << 8 | u8();
        }
        return v;
    }
    // Up to n bytes, as many as are left.
    std::vector<uint8_t> bytes(size_t n)
    {
        n = n < size - pos ? n : size - pos;
        std::vector<uint8_t> v(data + pos, data + pos + n);
        pos += n;
        return v;
    }
};

void put16(std::vector<uint8_t> &m, size_t at, uint16_t v)
{
    m[at] = static_cast<uint8_t>(v >> 8);
    m[at + 1] = static_cast<uint8_t>(v);
}
void put64(std::vector<uint8_t> &m, size_t at, uint64_t v)
{
    for (int i = 0; i < 8; i++) {
        m[at + i] = static_cast<uint8_t>(v >> (56 - 8 * i));
    }
}
uint16_t get16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

// ---- One run ----

struct run_type {
    port_slot *slot;
    tessel_proto_idb_type *port;
    uint32_t encap;
    bool slaving = false; // the state machine has started slaving (start_slave without stop)
    uint32_t advanced_s = 0;
    uint32_t other_ports_peers = 0; // unicast peers the node holds on its other ports

    ptp_port_id_type sender_id(uint32_t index, uint32_t variant) const
    {
        switch (variant & 3) {
        case 0: return {PEER_ID_BASE + index, 1};
        case 1: return {PEER_ID_BASE + index, 2};
        case 2: return {PEER_ID_BASE + 0x100 + index, 1}; // the slave restarted with another identity
        default: return {LOCAL_ID, static_cast<uint16_t>(OWN_PORT + (index & 1))}; // ourselves
        }
    }

    // A Signaling header for a message of len bytes from port identity id.
    std::vector<uint8_t> signaling_header(const ptp_port_id_type &id, uint16_t seq, uint32_t target)
    {
        std::vector<uint8_t> m(PTP_SIGNALING_HDR_LEN, 0);
        m[0] = 0x0C;
        m[1] = 2;
        m[6] = 0x04;
        put64(m, 20, id.clock_id);
        put16(m, 28, id.port_num);
        put16(m, 30, seq);
        m[32] = 5;
        m[33] = 0x7F;
        // The port number this port answers to: 1 under G.8265.1.
        const uint16_t own_port = nb.profile == PTP_PROFILE_G8265_1 ? 1 : OWN_PORT;
        switch (target & 3) {
        case 0: std::memset(m.data() + 34, 0xFF, 10); break;
        case 1:
            put64(m, 34, LOCAL_ID);
            put16(m, 42, own_port);
            break;
        case 2:
            std::memset(m.data() + 34, 0xFF, 8);
            put16(m, 42, own_port);
            break;
        default:
            put64(m, 34, LOCAL_ID);
            put16(m, 42, own_port + 1);
            break; // another port of ours
        }
        return m;
    }

    void receive(std::vector<uint8_t> &m, uint32_t src_index, uint32_t dst_choice, bool set_length = true)
    {
        if (set_length) {
            put16(m, 2, static_cast<uint16_t>(m.size()));
        }
        const ptp_address_type src = address_of(encap, src_index % PEERS);
        const ptp_address_type own = address_of(encap, 0, true);
        const ptp_address_type other = address_of(encap, 0x40);
        const ptp_address_type *dst = (dst_choice & 3) == 0 ? &own : (dst_choice & 3) == 1 ? nullptr : &other;
        // Exactly the bytes received, so that any read past them is caught.
        std::vector<uint8_t> exact(m);
        ptp_fsm_proto_packet_in(port, exact.empty() ? nullptr : exact.data(), exact.size(), nullptr, &src, dst);
    }

    // Unicast TLVs from a compact form: each TLV is a kind/type byte and its parameters.
    void op_tlvs(reader &in, uint8_t arg, uint32_t dst_choice)
    {
        const uint8_t h = in.u8();
        const uint8_t seq = in.u8();
        std::vector<uint8_t> m = signaling_header(sender_id(arg & 7, h >> 6), seq, h >> 4);
        const uint32_t count = h & 0x0F;
        for (uint32_t i = 0; i < count && !in.empty(); i++) {
            const uint8_t t = in.u8();
            const uint8_t msg_type = t >> 4;
            auto tlv = [&](uint16_t type, const std::vector<uint8_t> &body) {
                m.push_back(static_cast<uint8_t>(type >> 8));
                m.push_back(static_cast<uint8_t>(type));
                m.push_back(static_cast<uint8_t>(body.size() >> 8));
                m.push_back(static_cast<uint8_t>(body.size()));
                m.insert(m.end(), body.begin(), body.end());
            };
            auto timed = [&](bool grant) {
                static constexpr uint32_t durations[16] = {0,  1,   3,   4,   5,   10,  59,   60,
                                                           61, 225, 239, 240, 300, 301, 1000, 0xFFFFFFFF};
                const uint8_t interval = in.u8();
                const uint8_t d = in.u8();
                const uint32_t duration = (d & 0x80) ? in.u32() : durations[d & 0x0F];
                std::vector<uint8_t> b{static_cast<uint8_t>(msg_type << 4),  interval,
                                       static_cast<uint8_t>(duration >> 24), static_cast<uint8_t>(duration >> 16),
                                       static_cast<uint8_t>(duration >> 8),  static_cast<uint8_t>(duration)};
                if (grant) {
                    b.push_back(0);
                    b.push_back(d & 0x40 ? 1 : 0);
                }
                return b;
            };
            switch (t & 0x07) {
            case 0: tlv(PTP_MSG_TLV_REQUEST_UNICAST, timed(false)); break;
            case 1: tlv(PTP_MSG_TLV_GRANT_UNICAST, timed(true)); break;
            case 2: tlv(PTP_MSG_TLV_CANCEL_UNICAST, {static_cast<uint8_t>(msg_type << 4), 0}); break;
            case 3: tlv(PTP_MSG_TLV_ACK_CANCEL_UNICAST, {static_cast<uint8_t>(msg_type << 4), 0}); break;
            case 4:
            case 5: {
                // A unicast TLV whose length disagrees with its type.
                static constexpr uint16_t types[4] = {PTP_MSG_TLV_REQUEST_UNICAST, PTP_MSG_TLV_GRANT_UNICAST,
                                                      PTP_MSG_TLV_CANCEL_UNICAST, PTP_MSG_TLV_ACK_CANCEL_UNICAST};
                const uint8_t n = in.u8();
                std::vector<uint8_t> b = in.bytes(n & 0x1F);
                if (!b.empty()) {
                    b[0] = static_cast<uint8_t>(msg_type << 4);
                }
                tlv(types[((t & 1) << 1 | n >> 7) & 3], b);
                break;
            }
            case 6: {
                // Another TLV type (Path Trace, Management, ...), with a body.
                const uint8_t n = in.u8();
                tlv(static_cast<uint16_t>(msg_type < 4 ? msg_type : msg_type + 4), in.bytes(n & 0x1F));
                break;
            }
            default: {
                // A TLV header that claims more than is left.
                m.push_back(0);
                m.push_back(static_cast<uint8_t>(4 + (msg_type & 3)));
                m.push_back(0);
                m.push_back(static_cast<uint8_t>(0x40 | msg_type));
                break;
            }
            }
        }
        const uint32_t expected = expected_invalid_tlv_drops(m, h);
        const uint32_t before = nb.drop_reason[TESSEL_PACKET_DROP_INVALID_TLVS];
        receive(m, arg, dst_choice);
        if (nb.drop_reason[TESSEL_PACKET_DROP_INVALID_TLVS] - before != expected) {
            fail("a unicast TLV whose length disagrees with its type was not one counted drop");
        }
    }

    // The InvalidTLVs drops a message built by op_tlvs must count: one per unicast TLV whose
    // length disagrees with its type, or one for a TLV that runs past the message (Request TLVs
    // are looked at only when the walk reached the end), or one for a cut TLV header. None when
    // the message is not for us.
    static uint32_t expected_invalid_tlv_drops(const std::vector<uint8_t> &m, uint8_t h)
    {
        if ((h >> 6) == 3 || ((h >> 4) & 3) == 3) {
            return 0; // from ourselves, or for another port
        }
        uint32_t drops = 0;
        uint32_t bad_requests = 0;
        size_t pos = PTP_SIGNALING_HDR_LEN;
        while (pos < m.size()) {
            if (m.size() - pos < PTP_MSG_TLV_HDR_LEN) {
                return drops + 1; // a cut TLV header
            }
            const uint16_t type = get16(m.data() + pos);
            const size_t total = size_t{get16(m.data() + pos + 2)} + PTP_MSG_TLV_HDR_LEN;
            if (total > m.size() - pos) {
                return drops + 1;
            }
            const size_t want = ptp_unicast_tlv_expected_len(type);
            if (want != 0 && want != total) {
                (type == PTP_MSG_TLV_REQUEST_UNICAST ? bad_requests : drops)++;
            }
            pos += total;
        }
        return drops + bad_requests;
    }

    // A Signaling header with the TLV area as given.
    void op_body(reader &in, uint8_t arg)
    {
        const uint8_t h = in.u8();
        std::vector<uint8_t> m = signaling_header(sender_id(arg & 7, h >> 6), h, h >> 4);
        const std::vector<uint8_t> body = in.bytes(in.u8());
        m.insert(m.end(), body.begin(), body.end());
        receive(m, arg, arg >> 3);
    }

    // A whole message as given but for its type (Signaling): the header checks and the walk.
    void op_raw(reader &in, uint8_t arg)
    {
        std::vector<uint8_t> m = in.bytes(in.u8());
        if (!m.empty()) {
            m[0] = static_cast<uint8_t>((m[0] & 0xF0) | 0x0C);
        }
        receive(m, arg, arg >> 3, false);
    }

    // An Announce from a peer (never from this clock), to qualify and rank table masters.
    void op_announce(reader &in, uint8_t arg)
    {
        const uint32_t index = arg & 7;
        std::vector<uint8_t> m(64, 0);
        m[0] = 0x0B;
        m[1] = 2;
        const uint8_t f = in.u8();
        m[6] = static_cast<uint8_t>(f & 0x04); // unicast flag
        put64(m, 20, PEER_ID_BASE + index);
        put16(m, 28, 1);
        put16(m, 30, static_cast<uint16_t>(port->fsm.current_announce_id));
        m[32] = 5;
        m[33] = static_cast<uint8_t>(static_cast<int8_t>(f >> 4) - 8);
        m[47] = in.u8(); // priority 1
        m[48] = in.u8(); // clock class
        m[49] = 0x21;
        put16(m, 50, 0x4E5D);
        m[52] = in.u8(); // priority 2
        put64(m, 53, PEER_ID_BASE + index);
        m[62] = static_cast<uint8_t>(f & 0x03); // steps removed
        m[63] = 0xA0;
        receive(m, index, arg >> 3);
    }

    // Virtual time moves on, firing the grant, retry and renewal timers on the way; at most
    // MAX_ADVANCE_S per input, so that the retries every 4 s do not eat the run.
    void op_time(reader &in, uint8_t arg)
    {
        static constexpr uint32_t steps_s[16] = {1, 2, 3, 4, 5, 8, 15, 30, 45, 60, 100, 180, 226, 240, 300, 600};
        const uint8_t n = in.u8();
        if (arg & 1) {
            plat_clock_advance_ms(uint64_t{n} * 10);
            return;
        }
        const uint32_t s = steps_s[n & 0x0F];
        if (advanced_s + s <= MAX_ADVANCE_S) {
            advanced_s += s;
            plat_clock_advance_s(s);
        }
    }

    void op_slave(uint8_t arg)
    {
        ptp_fsm_foreign_master_type *best = port->fsm.foreign_master_ranked_list;
        switch (arg & 3) {
        case 0:
            if (!slaving && best != nullptr) {
                ptp_fsm_proto_start_slave(port);
                port->fsm.PortState = PTP_PORT_STATE_SLAVE;
                slaving = true;
            }
            break;
        case 1:
            if (slaving && best != nullptr) {
                ptp_fsm_proto_reset_slave(port);
            }
            break;
        case 2:
            if (slaving) {
                ptp_fsm_proto_stop_slave(port);
                port->fsm.PortState = PTP_PORT_STATE_LISTEN;
                slaving = false;
            }
            break;
        default:
            if (port->fsm.is_listening) {
                ptp_fsm_announce_timer_tick(port);
            }
            break;
        }
    }

    void op_grants(uint8_t arg)
    {
        switch (arg & 3) {
        case 0: ptp_fsm_unicast_end_grants(port); break;
        case 1: ptp_fsm_unicast_allow_grants(port); break;
        case 2:
            if (port->fsm.is_unicast_grant_allowed) {
                ptp_fsm_unicast_peer_sweep(port);
            } else {
                ptp_fsm_unicast_delete_all_peers(port);
            }
            break;
        default: nb_offload_confirm(port); break;
        }
    }

    void master_entry_set(uint32_t index, uint8_t kind)
    {
        tessel_master_table_type *table = &port->config.master_table;
        const ptp_address_type a = address_of(encap, index);
        tessel_master_db_type *entry = nullptr;
        if (tessel_master_db_find(table, &a, &entry) != 0) {
            entry = nullptr;
        }
        if ((kind & 7) == 0) {
            if (entry != nullptr) {
                tessel_master_db_remove(table, entry);
            }
            return;
        }
        if (entry == nullptr && tessel_master_db_add(table, &a, &entry) != 0) {
            return;
        }
        entry->flags = TESSEL_MASTER_DB_ENABLE_SET;
        switch (kind & 7) {
        case 2:
            entry->flags |= TESSEL_MASTER_DB_MULTICAST_SET;
            entry->multicast = PTP_TRANSPORT_MIXED;
            break;
        case 3:
            entry->flags |= TESSEL_MASTER_DB_MULTICAST_SET;
            entry->multicast = PTP_TRANSPORT_MULTICAST;
            break;
        case 4: entry->flags |= TESSEL_MASTER_DB_NON_NEGOTIATED | TESSEL_MASTER_DB_NON_NEGOTIATED_SET; break;
        case 5: entry->flags = 0; break; // present but not enabled
        default: break;
        }
        if (kind & 0x08) {
            entry->flags |= TESSEL_MASTER_DB_PRIORITY_SET;
            entry->priority = kind >> 4;
        }
        if (kind & 0x80) {
            entry->flags |= TESSEL_MASTER_DB_CLOCK_CLASS_SET;
            entry->clock_class = 6;
        }
    }

    void op_master_table(reader &in, uint8_t arg)
    {
        master_entry_set(arg & 3, in.u8());
        ptp_fsm_proto_master_config_change(port);
    }

    void op_slave_table(reader &in, uint8_t arg)
    {
        tessel_slave_table_type *table = &port->config.slave_table;
        const ptp_address_type a = address_of(encap, arg & 7);
        const uint8_t flags = in.u8() & 3;
        tessel_slave_db_type *entry = nullptr;
        if (tessel_slave_db_find(table, &a, &entry) != 0) {
            entry = nullptr;
        }
        if (flags == 0) {
            if (entry != nullptr) {
                tessel_slave_db_remove(table, entry);
            }
        } else if (entry != nullptr || tessel_slave_db_add(table, &a, &entry) == 0) {
            entry->flags = flags;
        }
        ptp_fsm_proto_slave_config_change(port);
    }

    void op_listen(uint8_t arg)
    {
        if (arg & 1) {
            port->fsm.is_listening = 1;
            ptp_fsm_proto_master_config_change(port);
        } else if (!slaving) {
            // What ending the listening does to the records (the announce timers are the
            // harness's ticks).
            port->fsm.is_listening = 0;
            ptp_fsm_proto_foreign_master_tree_destroy(port);
            ptp_fsm_proto_foreign_master_tree_init(port);
        }
    }

    // A grant record as the checkpoint gives it back after a restart.
    void op_restore(reader &in, uint8_t arg)
    {
        tessel_chkpt_unicast_grant_type rec{};
        rec.peer_addr = address_of(encap, arg & 7);
        rec.local_addr = address_of(encap, 0, true);
        const uint8_t f = in.u8();
        rec.peer_port_id = sender_id(arg & 7, f >> 6);
        rec.grant_flags = f & 7;
        rec.nonnegotiated_flags = (f >> 3) & 1;
        const uint64_t now = static_cast<uint64_t>(plat_time(nullptr));
        for (uint32_t k = 0; k < 3; k++) {
            rec.log_interval[k] = static_cast<int8_t>(in.u8());
            rec.app_log_interval[k] = (f & 0x20) ? rec.log_interval[k] : static_cast<int8_t>(rec.log_interval[k] + 1);
            rec.duration[k] = port_limit(k);
            const int64_t left = static_cast<int8_t>(in.u8()) * 4;
            rec.expiry[k] = static_cast<uint64_t>(static_cast<int64_t>(now) + left);
        }
        ptp_fsm_unicast_grant_restore(port, &rec, 0x100 + (arg & 7));
    }

    uint32_t port_limit(uint32_t k) const
    {
        return k == 0   ? port->config.announce_grant_duration
               : k == 1 ? port->config.sync_grant_duration
                        : port->config.delay_resp_grant_duration;
    }

    // ---- Checks ----

    void check_sent()
    {
        if (verbose()) {
            report();
        }
        for (const pktio_test_sent_type &s : pktio_test_sent()) {
            const size_t start = s.app_start > 0 ? static_cast<size_t>(s.app_start) : 0;
            const size_t held = s.current_length < s.bytes.size() ? s.current_length : s.bytes.size();
            if (start + PTP_SIGNALING_HDR_LEN > held) {
                fail("a sent message shorter than a Signaling header");
            }
            const uint8_t *m = s.bytes.data() + start;
            const size_t len = get16(m + 2);
            if ((m[0] & 0x0F) != 0x0C || len > held - start || len > MSG_AREA || len < PTP_SIGNALING_HDR_LEN) {
                fail("a sent message that is no Signaling message or does not fit");
            }
            size_t pos = PTP_SIGNALING_HDR_LEN;
            size_t tlvs = 0;
            while (pos < len) {
                if (len - pos < PTP_MSG_TLV_HDR_LEN) {
                    fail("a sent message with a cut TLV header");
                }
                const uint16_t type = get16(m + pos);
                const size_t total = size_t{get16(m + pos + 2)} + PTP_MSG_TLV_HDR_LEN;
                if (total != ptp_unicast_tlv_expected_len(type) || total > len - pos) {
                    fail("a sent TLV whose length disagrees with its type or its message");
                }
                pos += total;
                tlvs++;
            }
            if (tlvs == 0) {
                fail("a sent Signaling message without a TLV");
            }
        }
        pktio_test_sent_clear();
    }

    // With UNICAST_FUZZ_VERBOSE set: what each record left behind (to read a finding).
    void report()
    {
        std::fprintf(stderr, "  sent %zu; peers:", pktio_test_sent().size());
        avl2_tree_type *tree = &port->fsm.unicast_peer_tree;
        for (avl2_node_type *row = avl2_get_first(tree); row != nullptr; row = avl2_get_next(tree, row)) {
            auto *e = reinterpret_cast<ptp_fsm_peer_entry_type *>(row);
            std::fprintf(stderr, " [%s %c%c%c%s seq %u]", ptp_address_to_str(&e->peer_addr),
                         e->is_announce_granted ? 'A' : '-', e->is_sync_granted ? 'S' : '-',
                         e->is_delay_resp_granted ? 'D' : '-', e->is_nonnegotiated ? " nonneg" : "",
                         e->peer_sequence_id);
        }
        std::fprintf(stderr, "; masters:");
        avl2_tree_type *fms = &port->fsm.foreign_master_table;
        for (avl2_node_type *row = avl2_get_first(fms); row != nullptr; row = avl2_get_next(fms, row)) {
            auto *fm = reinterpret_cast<ptp_fsm_foreign_master_type *>(row);
            std::fprintf(stderr, " [%s t%u %c%c%c%s%s%s]", ptp_address_to_str(&fm->peer_addr), fm->transport,
                         fm->is_announce_granted ? 'A' : '-', fm->is_sync_granted ? 'S' : '-',
                         fm->is_delay_resp_granted ? 'D' : '-', fm->is_nonnegotiated ? " nonneg" : "",
                         fm->is_in_ranked_list ? " ranked" : "", fm->is_slaving ? " slaving" : "");
        }
        std::fprintf(stderr, "; drops:");
        for (uint32_t i = 0; i < 32; i++) {
            if (nb.drop_reason[i] != 0) {
                std::fprintf(stderr, " %u:%u", i, nb.drop_reason[i]);
            }
        }
        std::fprintf(stderr, "\n");
    }

    static bool leaf_running(void *leaf)
    {
        return leaf != nullptr && mgd_timer_leaf_running(static_cast<mgd_timer_leaf *>(leaf));
    }

    void check_state()
    {
        uint32_t peers = 0;
        avl2_tree_type *tree = &port->fsm.unicast_peer_tree;
        for (avl2_node_type *row = avl2_get_first(tree); row != nullptr; row = avl2_get_next(tree, row)) {
            auto *e = reinterpret_cast<ptp_fsm_peer_entry_type *>(row);
            peers++;
            if (!ptp_fsm_unicast_peer_entry_in_use(e)) {
                fail("a unicast peer entry left without grants");
            }
            const bool granted[3] = {e->is_announce_granted != 0, e->is_sync_granted != 0,
                                     e->is_delay_resp_granted != 0};
            for (uint32_t k = 0; k < PTP_FSM_PEER_GRANT_KINDS; k++) {
                if (granted[k] && !e->is_nonnegotiated && !leaf_running(e->grant[k].grant_timer)) {
                    fail("a grant without a running grant timer");
                }
            }
        }
        if (peers != port->fsm.unicast_peer_count || peers + other_ports_peers != ptp_fsm_unicast_peer_count) {
            fail("peer counts differ from the peer tree");
        }
        avl2_tree_type *fms = &port->fsm.foreign_master_table;
        for (avl2_node_type *row = avl2_get_first(fms); row != nullptr; row = avl2_get_next(fms, row)) {
            auto *fm = reinterpret_cast<ptp_fsm_foreign_master_type *>(row);
            if (fm->transport != PTP_TRANSPORT_UNICAST || fm->is_nonnegotiated) {
                continue;
            }
            const auto &ann = fm->grant[PTP_FSM_FM_GRANT_ANNOUNCE];
            if (fm->is_announce_granted ? !leaf_running(ann.grant_timer) : !leaf_running(ann.retry_timer)) {
                fail("a unicast master neither granted nor asked again for Announce");
            }
            // The master the port slaves to (where slaving starts the streams) is asked for Sync
            // and Delay-Resp until it grants them, and its grants run out unless renewed.
            if (fm != port->fsm.slaving_master || !fm->is_slaving || fm != port->fsm.foreign_master_ranked_list ||
                (nb.profile != PTP_PROFILE_DEFAULT && nb.profile != PTP_PROFILE_G8275_1)) {
                continue;
            }
            const bool combined = leaf_running(fm->grant_cancel_timer);
            const auto &sync = fm->grant[PTP_FSM_FM_GRANT_SYNC];
            const auto &dr = fm->grant[PTP_FSM_FM_GRANT_DELAY_RESP];
            if (fm->is_sync_granted ? !leaf_running(sync.grant_timer) : !(combined || leaf_running(sync.retry_timer))) {
                fail("the slaving master neither granted nor asked again for Sync");
            }
            if (fm->is_delay_resp_granted ? !leaf_running(dr.grant_timer)
                                          : !(combined || leaf_running(dr.retry_timer))) {
                fail("the slaving master neither granted nor asked again for Delay-Resp");
            }
        }
    }
};

run_type *current_run = nullptr;

// The port's best foreign master changed. In the agent the port manager re-runs the best-master
// choice at once, and the port's state machine reacts before this returns: a slave whose best
// master is gone leaves the Slave state, one with another best master re-selects.
void fm_change(tessel_proto_idb_type *port)
{
    run_type *r = current_run;
    if (r == nullptr || r->port != port || !r->slaving) {
        return;
    }
    ptp_fsm_foreign_master_type *best = port->fsm.foreign_master_ranked_list;
    if (best == nullptr) {
        ptp_fsm_proto_stop_slave(port);
        port->fsm.PortState = PTP_PORT_STATE_MASTER;
        r->slaving = false;
    } else if (best != port->fsm.slaving_master) {
        ptp_fsm_proto_reset_slave(port);
    }
}

void config_apply(run_type &r, const uint8_t cfg[4])
{
    tessel_proto_idb_type *p = r.port;
    static constexpr int32_t intervals[8][3] = {{0, -4, -4}, {-3, -7, -7}, {1, 0, 0},    {-2, -3, -3},
                                                {0, -4, -7}, {3, 4, 5},    {-7, -7, -7}, {0, 0, 0}};
    static constexpr uint32_t durations[4] = {300, 60, 10, 1000};
    const auto &iv = intervals[cfg[1] >> 5];
    p->config.transport = (cfg[0] >> 3) & 3;
    if (p->config.transport == 3) {
        p->config.transport = PTP_TRANSPORT_UNICAST;
    }
    p->config.deny_invalid_grants = (cfg[0] >> 5) & 1;
    p->config.announce_timeout = 3;
    p->config.announce_interval = iv[0];
    p->config.sync_interval = iv[1];
    p->config.delay_req_interval = iv[2];
    p->config.announce_grant_duration = durations[cfg[2] & 3];
    p->config.sync_grant_duration = durations[(cfg[2] >> 2) & 3];
    p->config.delay_resp_grant_duration = durations[(cfg[2] >> 4) & 3];
    // The node-wide peer limit, reached with the peers of other ports.
    static constexpr uint32_t others[4] = {0, PTP_FSM_UNICAST_MAX_PEERS - 3, PTP_FSM_UNICAST_MAX_PEERS - 1,
                                           PTP_FSM_UNICAST_MAX_PEERS};
    r.other_ports_peers = others[cfg[2] >> 6];
    ptp_fsm_unicast_peer_count += r.other_ports_peers;
    interop::intf_caps_stop();
    if (interop::intf_caps_start((cfg[0] >> 6) & 1) != 0) {
        fail("interface capabilities");
    }
    nb.profile = cfg[1] & 3;
    static constexpr uint32_t states[8] = {
        PTP_PORT_STATE_LISTEN,     PTP_PORT_STATE_MASTER,       PTP_PORT_STATE_MASTER, PTP_PORT_STATE_PASSIVE,
        PTP_PORT_STATE_PRE_MASTER, PTP_PORT_STATE_UNCALIBRATED, PTP_PORT_STATE_SLAVE,  PTP_PORT_STATE_LISTEN};
    p->fsm.PortState = states[(cfg[1] >> 2) & 7];
    if (cfg[0] & 0x04) {
        ptp_fsm_unicast_allow_grants(p);
    }
    for (uint32_t i = 0; i < 4; i++) {
        const uint8_t kind = (cfg[3] >> (2 * i)) & 3;
        if (kind != 0) {
            r.master_entry_set(i, kind == 3 ? 4 : kind);
        }
    }
    if (cfg[0] & 0x80) {
        p->fsm.is_listening = 1;
        ptp_fsm_proto_master_config_change(p);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4) {
        return 0;
    }
    env_type &e = env();
    reader in{data, size};
    uint8_t cfg[4];
    for (uint8_t &c : cfg) {
        c = in.u8();
    }
    nb_reset();
    nb.local_clock = {LOCAL_ID, 0};
    pktio_test_sent_clear();

    port_slot &slot = e.ports[(cfg[0] & 3) == 3 ? 1 : cfg[0] & 3];
    tessel_proto_idb_type *port = slot.port;
    port->fsm = slot.fsm_at_start;
    run_type r{&slot, port, slot.encap};
    current_run = &r;
    if (tessel_master_db_init(&port->config.master_table) != 0 ||
        tessel_slave_db_init(&port->config.slave_table) != 0 || ptp_fsm_unicast_port_init(port) != 0 ||
        !ptp_fsm_proto_foreign_master_tree_init(port)) {
        fail("port trees");
    }
    config_apply(r, cfg);
    r.check_sent();
    r.check_state();

    for (size_t n = 0; n < MAX_RECORDS && !in.empty(); n++) {
        const uint8_t op = in.u8();
        const uint8_t arg = op >> 4;
        if (verbose()) {
            std::fprintf(stderr, "op %u arg %u\n", op & 0x0F, arg);
        }
        switch (op & 0x0F) {
        case 0:
        case 1:
        case 2:
        case 3: r.op_tlvs(in, arg, op & 3); break;
        case 4:
        case 5: r.op_body(in, arg); break;
        case 6: r.op_raw(in, arg); break;
        case 7:
        case 8: r.op_time(in, arg); break;
        case 9: r.op_announce(in, arg); break;
        case 10: r.op_slave(arg); break;
        case 11: r.op_grants(arg); break;
        case 12: r.op_master_table(in, arg); break;
        case 13: r.op_slave_table(in, arg); break;
        case 14: r.op_listen(arg); break;
        default: r.op_restore(in, arg); break;
        }
        r.check_sent();
        r.check_state();
    }

    // Tear the port down as the state machine's shutdown does.
    if (r.slaving) {
        ptp_fsm_proto_stop_slave(port);
    }
    ptp_fsm_proto_foreign_master_tree_destroy(port);
    ptp_fsm_unicast_port_shutdown(port);
    r.check_sent();
    ptp_fsm_unicast_peer_count -= r.other_ports_peers;
    if (port->fsm.unicast_peer_count != 0 || ptp_fsm_unicast_peer_count != 0) {
        fail("peers left after the port's shutdown");
    }
    if (!avl2_is_empty(&port->peer_index_tree)) {
        fail("peer indices left after the port's shutdown");
    }
    tessel_master_db_destroy(&port->config.master_table);
    tessel_slave_db_destroy(&port->config.slave_table);
    plat_clock_settle();
    current_run = nullptr;
    return 0;
}
