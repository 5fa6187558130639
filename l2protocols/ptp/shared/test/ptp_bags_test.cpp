#include "ptp_bags.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The catalogue as the operators' tools know it: name, native size, further definitions.
struct expected_bag {
    const char *name;
    uint64_t size;
    std::vector<uint32_t> further;
};
const expected_bag expected[] = {
    {"ptp_current_ds_info", 24, {}},
    {"ptp_default_ds_info", 48, {}},
    {"ptp_parent_ds_info", 40, {}},
    {"ptp_time_properties_ds_info", 32, {}},
    {"ptp_port_ds_info", 96, {}},
    {"ptp_if_info", 256, {96, 97, 98, 104, 108, 120, 121, 144, 145}},
    {"ptp_if_interop_info", 48, {97, 98, 104, 146, 147}},
    {"ptp_if_clock_info", 40, {97, 98, 99, 100, 101, 103, 104, 106}},
    {"ptp_if_packet_counter_info", 176, {97, 98, 104, 128, 129}},
    {"ptp_node_packet_counter_info", 272, {105, 128}},
    {"ptp_if_idb_info", 752, {96,  97,  98,  99,  100, 101, 104, 108, 109, 113, 114, 115,
                              116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126, 127}},
    {"ptp_if_unicast_peer_info", 56, {97, 98, 103, 104, 107}},
    {"ptp_if_event_counter_info", 68, {}},
    {"ptp_node_event_counter_info", 172, {}},
    {"sardo_event_counter_info", 64, {}},
    {"ptp_summary_info", 40, {}},
    {"ptp_grandmaster_info", 160, {97, 98, 99, 100, 101, 104}},
    {"ptp_advertised_clock_info", 136, {99, 100, 101}},
    {"ptp_local_clock_info", 208, {99, 100, 101, 102}},
    {"ptp_leap_seconds_info", 104, {111, 112, 119}},
    {"ptp_global_database_info", 632, {99, 100, 101, 102, 110, 132, 133, 134, 135, 136, 137, 138, 162}},
    {"ptp_if_config_errors_entry", 288, {119, 130}},
    {"sardo_config_errors_info", 112, {131}},
    {"ptp_trap_clock_class", 24, {97, 98, 104}},
    {"ptp_trap_clock_state", 16, {97, 98, 104}},
    {"ptp_trap_time_source", 1, {}},
    {"ptp_trap_utc_offset", 16, {97, 98, 104}},
    {"ptp_trap_offset_threshold_breach", 24, {97, 98, 104}},
    {"ptp_trap_master_lost", 24, {97, 98, 104}},
    {"ptp_trap_slave_lost", 24, {97, 98, 104}},
};

std::vector<uint32_t> definition_ids(std::string_view schema)
{
    std::vector<uint32_t> ids;
    for (size_t pos = 0; pos < schema.size(); pos = schema.find(';', pos) + 1)
        ids.push_back(static_cast<uint32_t>(std::stoul(std::string(schema.substr(pos + 1)))));
    return ids;
}

TEST(PtpBagCatalogue, DescriptorsMatchTheCatalogue)
{
    const bag_descriptor_type *const *bags = ptp_bag_catalogue();
    for (uint32_t i = 0; i < PTP_BAG_COUNT; ++i) {
        const bag_descriptor_type *d = bags[i];
        const expected_bag &e = expected[i];
        SCOPED_TRACE(e.name);
        EXPECT_STREQ(d->name, e.name);
        EXPECT_EQ(d->first_word, 1u);
        EXPECT_EQ(d->major, 2u);
        EXPECT_EQ(d->minor, 6u);
        EXPECT_STREQ(d->library, "libbagwright.dll");
        EXPECT_EQ(d->layout->size, e.size);
        EXPECT_EQ(d->layout->definition_count, e.further.size());
        std::vector<uint32_t> ids = definition_ids(d->schema);
        ASSERT_FALSE(ids.empty());
        EXPECT_EQ(std::vector<uint32_t>(ids.begin() + 1, ids.end()), e.further);
        EXPECT_EQ(definition_ids(d->compact_schema), ids);
    }
    EXPECT_EQ(ptp_trap_clock_class_bag_getfn(), &ptp_trap_clock_class_bag);
    EXPECT_EQ(ptp_current_ds_info_bag_getfn(), bags[0]);
}

TEST(PtpBagCatalogue, SchemaTexts)
{
    struct {
        const bag_descriptor_type *bag;
        const char *full;
        const char *compact;
    } cases[] = {
        {&ptp_trap_clock_class_bag,
         "$167={addr}p($104){clock_id}H{clock_class}C;$97={IPv6Address}16x%s;$98={macaddr}6x%m;"
         "$104=?(<Encapsulation,ptp_bag_encap>,0:{AddressUnknown}b,1:{MACAddress}$98,2:{IPv4Address}N,"
         "3:{IPv6Address}$97);",
         "$167=p($104)HC;$97=16x%s;$98=6x%m;$104=?(,0:b,1:$98.,2:N,3:$97.);"},
        {&ptp_trap_time_source_bag, "$169={time_source}C;", "$169=C;"},
        {&ptp_summary_info_bag,
         "$159={PortStateInitCount}D{PortStateListeningCount}D{PortStatePassiveCount}D{PortStatePreMasterCount}D"
         "{PortStateMasterCount}D{PortStateSlaveCount}D{PortStateUncalibratedCount}D{PortStateFaultyCount}D"
         "{TotalInterfaces}D{TotalInterfacesValidPortNum}D;",
         "$159=DDDDDDDDDD;"},
        {&ptp_advertised_clock_info_bag, nullptr,
         "$161=Pb$101.Cbebe;$99=ib;$100=HI;$101=HCCCCIIe$99.bbee$100.b$100.bbCC;"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bag->name);
        if (c.full != nullptr) {
            EXPECT_STREQ(c.bag->schema, c.full);
        }
        EXPECT_STREQ(c.bag->compact_schema, c.compact);
    }
    // The internal record reference of the IDB dump keeps no dot.
    EXPECT_EQ(std::string_view(ptp_if_idb_info_bag.compact_schema).substr(0, 19), "$154=P$122Pp($127);");
    // Names are kept as the tools decode them, misspellings included.
    EXPECT_NE(std::string_view(ptp_port_ds_info_bag.schema).find("{AnnoucneReceiptTimeout}D"), std::string_view::npos);
    EXPECT_NE(std::string_view(ptp_if_idb_info_bag.schema).find("{IPCThreadMACAdress}$98"), std::string_view::npos);
}

// Every definition's native record has the layout that the bag facility derives from its text.
TEST(PtpBagCatalogue, EveryDefinitionLayoutMatchesTheFacility)
{
    uint32_t count = 0;
    const ptp_bag_definition_type *defs = ptp_bag_definitions(&count);
    ASSERT_EQ(count, 77u);
    for (uint32_t i = 0; i < count; ++i) {
        SCOPED_TRACE(defs[i].text);
        std::string schema = defs[i].text;
        for (uint32_t j = 0; j < count; ++j)
            if (j != i)
                schema += defs[j].text;
        uint64_t size = 0, align = 0, offsets[128];
        uint32_t fields = 0;
        ASSERT_EQ(bag_schema_root_layout(schema.c_str(), &size, &align, offsets, 128, &fields), ZERR_OK);
        EXPECT_EQ(size, defs[i].size);
        ASSERT_EQ(fields, defs[i].field_count);
        for (uint32_t f = 0; f < fields; ++f)
            EXPECT_EQ(offsets[f], defs[i].offsets[f]) << "field " << f;
    }
}

TEST(PtpBagCatalogue, EnumerationsInValueOrder)
{
    uint32_t count = 0;
    const ptp_bag_enum_type *enums = ptp_bag_enums(&count);
    ASSERT_EQ(count, 13u);
    std::string ids;
    for (uint32_t i = 0; i < count; ++i) {
        if (std::string_view(enums[i].name) != "ptp_bag_port_state")
            continue;
        for (uint32_t e = 0; e < enums[i].count; ++e)
            ids += std::to_string(enums[i].enumerators[e].value) + ":" + enums[i].enumerators[e].name + ";";
    }
    EXPECT_EQ(ids, "0:INITIALIZING;1:LISTEN;2:PASSIVE;3:PRE_MASTER;4:MASTER;5:UNCALIBRATED;6:SLAVE;7:FAULTY;");
    EXPECT_EQ(PTP_BAG_TIME_SOURCE_InternalOscillator, 160u);
}

class PtpBagRegistration : public ::testing::Test {
protected:
    void SetUp() override { bag_registry_reset(); }
    void TearDown() override { bag_registry_reset(); }
};

TEST_F(PtpBagRegistration, AllThirtyRegister)
{
    ASSERT_EQ(bag_register_all_ptp_bags(), ZERR_OK);
    for (uint32_t i = 0; i < PTP_BAG_COUNT; ++i)
        EXPECT_TRUE(bag_is_registered(expected[i].name)) << expected[i].name;
    // Every process registers the same catalogue; doing it again is harmless.
    EXPECT_EQ(bag_register_all_ptp_bags(), ZERR_OK);
}

TEST_F(PtpBagRegistration, FifthFailureAbortsAndIsReturned)
{
    bag_test_fail_register(5, 0x40818800);
    EXPECT_EQ(bag_register_all_ptp_bags(), 0x40818800u);
    for (uint32_t i = 0; i < PTP_BAG_COUNT; ++i)
        EXPECT_FALSE(bag_is_registered(expected[i].name)) << expected[i].name;
    // The registration was closed by the abort: a new one can start.
    EXPECT_EQ(bag_register_all_ptp_bags(), ZERR_OK);
}

TEST_F(PtpBagRegistration, StartFailureReturnedAtOnce)
{
    ASSERT_EQ(bag_register_start(), ZERR_OK);
    EXPECT_EQ(bag_register_all_ptp_bags(), bag_zerr(BAG_ZERR_ALREADY_OPEN));
    EXPECT_FALSE(bag_is_registered("ptp_current_ds_info"));
}

// ---- Round trips ----

// Writes a valid encoding body for a definition, from its schema text alone: every optional value
// present, two elements per array, strings and byte strings non-empty, union arms in turn.
class body_writer {
public:
    explicit body_writer(const std::map<uint32_t, std::string_view> &texts) : texts_(texts) {}
    std::vector<uint8_t> out;

    void def(uint32_t id)
    {
        std::string_view t = texts_.at(id);
        size_t pos = t.find('=') + 1;
        while (t[pos] != ';') {
            if (t[pos] == '{')
                pos = t.find('}', pos) + 1;
            type(t, pos);
        }
    }

private:
    const std::map<uint32_t, std::string_view> &texts_;
    uint32_t seed_ = 1;

    void put(uint64_t v, int bytes)
    {
        for (int i = bytes - 1; i >= 0; --i)
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    uint64_t next() { return seed_ = seed_ * 1103515245u + 12345u; }
    static uint32_t number(std::string_view t, size_t &pos)
    {
        uint32_t n = 0;
        while (t[pos] >= '0' && t[pos] <= '9')
            n = n * 10 + static_cast<uint32_t>(t[pos++] - '0');
        return n;
    }
    void type(std::string_view t, size_t &pos)
    {
        if (t[pos] == 'P')
            ++pos;
        char c = t[pos++];
        switch (c) {
        case 'C':
        case 'c': put(next(), 1); break;
        case 'I': put(next(), 2); break;
        case 'D':
        case 'd':
        case 'i':
        case 'N':
        case 'e': put(next(), 4); break;
        case '[':
            pos = t.find(']', pos) + 2;
            put(next() % 4, 4);
            break;
        case 'H':
        case 'h': put(next() << 32 | next(), 8); break;
        case 'b': put(next() & 1, 1); break;
        case 's':
            put(5, 4);
            for (int i = 0; i < 5; ++i)
                put('a' + next() % 26, 1);
            break;
        case 'y':
            put(3, 4);
            put(next(), 3);
            break;
        case '$': def(number(t, pos)); break;
        case 'p':
        case 'a': {
            ++pos;
            size_t inner = pos;
            int n = c == 'p' ? 1 : 2;
            put(static_cast<uint64_t>(n), c == 'p' ? 1 : 4);
            for (int i = 0; i < n; ++i) {
                pos = inner;
                type(t, pos);
            }
            ++pos;
            break;
        }
        case '?': {
            size_t end = pos;
            std::vector<std::pair<uint32_t, size_t>> arms; // key, position of the arm's type
            ++pos;
            if (t[pos] == '<')
                pos = t.find('>', pos) + 1;
            size_t mark = out.size();
            while (t[pos] == ',') {
                ++pos;
                uint32_t key = number(t, pos);
                ++pos;
                if (t[pos] == '{')
                    pos = t.find('}', pos) + 1;
                arms.emplace_back(key, pos);
                type(t, pos); // only to find the next arm
            }
            out.resize(mark);
            end = ++pos;
            auto [key, at] = arms[arm_++ % arms.size()];
            put(key, 4);
            type(t, at);
            pos = end;
            break;
        }
        default: {
            --pos;
            uint32_t n = number(t, pos);
            if (t[pos] == 'x') {
                ++pos;
                for (uint32_t i = 0; i < n; ++i)
                    put(next(), 1);
            } else {
                pos += 2;
                size_t inner = pos;
                for (uint32_t i = 0; i < n; ++i) {
                    pos = inner;
                    type(t, pos);
                }
                ++pos;
            }
            break;
        }
        }
        if (pos < t.size() && t[pos] == '%')
            pos += 2;
    }
    size_t arm_ = 0;
};

std::vector<uint8_t> encode(const void *record, const bag_descriptor_type *bag)
{
    uint8_t *data = nullptr;
    uint32_t len = 0;
    EXPECT_EQ(bag_encode(record, bag, &data, &len), ZERR_OK);
    std::vector<uint8_t> out(data, data + len);
    free(data);
    return out;
}

class PtpBagRoundTrip : public PtpBagRegistration {
protected:
    void SetUp() override
    {
        PtpBagRegistration::SetUp();
        ASSERT_EQ(bag_register_all_ptp_bags(), ZERR_OK);
        uint32_t count = 0;
        const ptp_bag_definition_type *defs = ptp_bag_definitions(&count);
        for (uint32_t i = 0; i < count; ++i)
            texts[defs[i].id] = defs[i].text;
    }
    // A complete encoding: the header of an encoded empty record, then a generated body.
    std::vector<uint8_t> full_encoding(const bag_descriptor_type *bag)
    {
        std::vector<uint64_t> zero(bag->layout->size / 8 + 1, 0);
        std::vector<uint8_t> bytes = encode(zero.data(), bag);
        size_t header = 4 + 2 + 2 + 2 + 2 + strlen(bag->name) + 4;
        body_writer w(texts);
        w.def(definition_ids(bag->schema)[0]);
        bytes.resize(header);
        for (int s = 24; s >= 0; s -= 8)
            bytes.push_back(static_cast<uint8_t>(w.out.size() >> s));
        bytes.insert(bytes.end(), w.out.begin(), w.out.end());
        return bytes;
    }
    std::map<uint32_t, std::string_view> texts;
};

zerrno decode_copy(const std::vector<uint8_t> &bytes, size_t n, void *record, const bag_descriptor_type *bag)
{
    auto *copy = static_cast<uint8_t *>(malloc(n == 0 ? 1 : n));
    memcpy(copy, bytes.data(), n);
    zerrno rc = bag_decode(copy, static_cast<uint32_t>(n), record, bag);
    free(copy);
    return rc;
}

TEST_F(PtpBagRoundTrip, EveryBagWithItsIndirections)
{
    for (uint32_t i = 0; i < PTP_BAG_COUNT; ++i) {
        const bag_descriptor_type *bag = ptp_bag_catalogue()[i];
        SCOPED_TRACE(bag->name);
        std::vector<uint8_t> bytes = full_encoding(bag);
        std::vector<uint64_t> record(bag->layout->size / 8 + 1, 0);
        ASSERT_EQ(decode_copy(bytes, bytes.size(), record.data(), bag), ZERR_OK);
        EXPECT_EQ(encode(record.data(), bag), bytes);
        EXPECT_EQ(bag_free_indirections(record.data(), bag), ZERR_OK);
    }
}

TEST_F(PtpBagRoundTrip, TruncatedEncodingsAreRefused)
{
    for (uint32_t i = 0; i < PTP_BAG_COUNT; ++i) {
        const bag_descriptor_type *bag = ptp_bag_catalogue()[i];
        SCOPED_TRACE(bag->name);
        std::vector<uint8_t> bytes = full_encoding(bag);
        std::vector<uint64_t> record(bag->layout->size / 8 + 1, 0);
        for (size_t n = 0; n < bytes.size(); ++n) {
            zerrno rc = decode_copy(bytes, n, record.data(), bag);
            ASSERT_TRUE(rc == bag_zerr(BAG_ZERR_TRUNCATED) || rc == bag_zerr(BAG_ZERR_INCONSISTENT)) << n;
        }
    }
}

TEST_F(PtpBagRoundTrip, TypedRecordsKeepTheirValues)
{
    ptp_bag_address peer{};
    peer.Encapsulation = PTP_BAG_ENCAP_IPv4;
    peer.value.IPv4Address = 0x0a000001;
    ptp_bag_master_table_entry masters[1]{};
    masters[0].Address.Encapsulation = PTP_BAG_ENCAP_Ethernet;
    memcpy(masters[0].Address.value.MACAddress.macaddr, "\x01\x02\x03\x04\x05\x06", 6);
    masters[0].CommunicationModel = PTP_BAG_COMMUNICATION_MODEL_MixedMode;
    uint8_t priority = 7;
    masters[0].Priority = &priority;
    ptp_if_info in{};
    in.Name = "GigabitEthernet0/0/0/0";
    in.PortState = PTP_BAG_PORT_STATE_SLAVE;
    in.MasterTable = {1, masters};
    in.current_peer = &peer;
    in.associate_port_count = 3;

    std::vector<uint8_t> bytes = encode(&in, &ptp_if_info_bag);
    ptp_if_info out;
    ASSERT_EQ(bag_decode(bytes.data(), static_cast<uint32_t>(bytes.size()), &out, &ptp_if_info_bag), ZERR_OK);
    EXPECT_STREQ(out.Name, "GigabitEthernet0/0/0/0");
    EXPECT_EQ(out.PortState, PTP_BAG_PORT_STATE_SLAVE);
    ASSERT_EQ(out.MasterTable.count, 1u);
    EXPECT_EQ(memcmp(out.MasterTable.array[0].Address.value.MACAddress.macaddr, "\x01\x02\x03\x04\x05\x06", 6), 0);
    EXPECT_EQ(out.MasterTable.array[0].CommunicationModel, PTP_BAG_COMMUNICATION_MODEL_MixedMode);
    ASSERT_NE(out.MasterTable.array[0].Priority, nullptr);
    EXPECT_EQ(*out.MasterTable.array[0].Priority, 7);
    EXPECT_EQ(out.MasterTable.array[0].IsNonnegotiated, nullptr);
    ASSERT_NE(out.current_peer, nullptr);
    EXPECT_EQ(out.current_peer->value.IPv4Address, 0x0a000001u);
    EXPECT_EQ(out.associate_port_count, 3u);
    EXPECT_EQ(out.MACAddress, nullptr);
    EXPECT_EQ(bag_free_indirections(&out, &ptp_if_info_bag), ZERR_OK);

    ptp_trap_utc_offset trap{};
    int32_t offset = -37;
    trap.utc_offset = &offset;
    bytes = encode(&trap, &ptp_trap_utc_offset_bag);
    ptp_trap_utc_offset trap_out;
    ASSERT_EQ(bag_decode(bytes.data(), static_cast<uint32_t>(bytes.size()), &trap_out, &ptp_trap_utc_offset_bag),
              ZERR_OK);
    EXPECT_EQ(trap_out.addr, nullptr);
    ASSERT_NE(trap_out.utc_offset, nullptr);
    EXPECT_EQ(*trap_out.utc_offset, -37);
    EXPECT_EQ(bag_free_indirections(&trap_out, &ptp_trap_utc_offset_bag), ZERR_OK);

    // A bag decoded against another bag's descriptor is refused.
    EXPECT_EQ(bag_decode(bytes.data(), static_cast<uint32_t>(bytes.size()), &trap_out, &ptp_trap_clock_state_bag),
              bag_zerr(BAG_ZERR_WRONG_BAG));
}

} // namespace
