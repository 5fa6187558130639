#include "ptp_comms_msg.h"

#include <cstring>
#include <initializer_list>
#include <vector>

#include <gtest/gtest.h>

#include "ptp_zerr_codes.h"

namespace {

using bytes = std::vector<uint8_t>;

// Hand-written expectations: zeros with the given bytes written at an offset.
void at(bytes &b, size_t offset, std::initializer_list<uint8_t> v)
{
    std::memcpy(b.data() + offset, v.begin(), v.size());
}

ptp_clock_type sample_clock(uint8_t seed)
{
    ptp_clock_type c{};
    c.clock_id = 0x0011223344556600ull | seed;
    c.priority1 = 128;
    c.clock_class = 6;
    c.accuracy = 0x21;
    c.offset_log_variance = 0x4E5D;
    c.priority2 = 127;
    c.steps_removed = 0x0102;
    c.time_source = 0x20;
    c.utc_offset = -2;
    c.utc_offset_valid = 1;
    c.frequency_traceable = 0x01020304;
    c.time_traceable = 1;
    c.timescale = 1;
    c.leap_seconds = 2;
    c.sender = {0xA1A2A3A4A5A6A7A8ull, 0xB1B2};
    c.receiver = {0xC1C2C3C4C5C6C7C8ull, 0xD1D2};
    c.local = 1;
    c.configured_clock_class = 7;
    c.configured_priority = 9;
    return c;
}

// sample_clock(seed) in its 80-byte wire form, written by hand at offset.
void clock_bytes(bytes &b, size_t o, uint8_t seed)
{
    at(b, o + 0, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, seed});
    at(b, o + 8, {128, 6, 0x21, 0, 0x4E, 0x5D, 127, 0, 0x01, 0x02, 0x20, 0, 0xFF, 0xFE});
    at(b, o + 24, {0, 0, 0, 1, 0x01, 0x02, 0x03, 0x04, 0, 0, 0, 1, 1, 2});
    at(b, o + 40, {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xB1, 0xB2});
    at(b, o + 56, {0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xD1, 0xD2});
    at(b, o + 72, {0, 0, 0, 1, 7, 9});
}

bool clock_equal(const ptp_clock_type &a, const ptp_clock_type &b)
{
    return a.clock_id == b.clock_id && a.priority1 == b.priority1 && a.clock_class == b.clock_class &&
           a.accuracy == b.accuracy && a.offset_log_variance == b.offset_log_variance && a.priority2 == b.priority2 &&
           a.steps_removed == b.steps_removed && a.time_source == b.time_source && a.utc_offset == b.utc_offset &&
           a.utc_offset_valid == b.utc_offset_valid && a.frequency_traceable == b.frequency_traceable &&
           a.time_traceable == b.time_traceable && a.timescale == b.timescale && a.leap_seconds == b.leap_seconds &&
           a.sender.clock_id == b.sender.clock_id && a.sender.port_num == b.sender.port_num &&
           a.receiver.clock_id == b.receiver.clock_id && a.receiver.port_num == b.receiver.port_num &&
           a.local == b.local && a.configured_clock_class == b.configured_clock_class &&
           a.configured_priority == b.configured_priority;
}

TEST(PtpCommsMsg, AnnounceBytesBothWays)
{
    ptp_comms_msg_announce msg{};
    msg.local_clock_id = 0x8899AABBCCDDEEFFull;
    msg.domain = 24;
    msg.global_bmc = sample_clock(0x01);
    msg.bmc_synced = 1;
    msg.advertised = sample_clock(0x02);
    msg.slave_supported = 0x01000000;
    msg.bmc_selected = 0x00000002;

    bytes want(192, 0);
    at(want, 0, {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 24});
    clock_bytes(want, 16, 0x01);
    at(want, 96, {0, 0, 0, 1});
    clock_bytes(want, 104, 0x02);
    at(want, 184, {1, 0, 0, 0, 0, 0, 0, 2});

    bytes got(192, 0xEE);
    ptp_comms_msg_announce_encode(&msg, got.data());
    EXPECT_EQ(got, want);

    // Reserved bytes are not read: the decode of a message with them set is the same.
    at(want, 9, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    at(want, 100, {0xFF, 0xFF, 0xFF, 0xFF});
    ptp_comms_msg_announce back{};
    ASSERT_EQ(ptp_comms_msg_announce_decode(want.data(), want.size(), &back), 0u);
    EXPECT_EQ(back.local_clock_id, msg.local_clock_id);
    EXPECT_EQ(back.domain, 24);
    EXPECT_TRUE(clock_equal(back.global_bmc, msg.global_bmc));
    EXPECT_TRUE(clock_equal(back.advertised, msg.advertised));
    EXPECT_EQ(back.bmc_synced, 1u);
    EXPECT_EQ(back.slave_supported, 0x01000000u);
    EXPECT_EQ(back.bmc_selected, 2u);
}

TEST(PtpCommsMsg, BmcBytesBothWays)
{
    ptp_comms_msg_bmc msg{};
    msg.present = 1;
    msg.clock = sample_clock(0x03);
    msg.ifhandle = 0x01020304;
    msg.address.encap = PTP_ENCAP_IPV4;
    const uint8_t ip[] = {192, 0, 2, 7};
    std::memcpy(msg.address.value, ip, sizeof ip);
    msg.sync_interval = -4;
    msg.min_delay_req_interval = -3;
    msg.delay_asymmetry = -1000;

    bytes want(136, 0);
    at(want, 0, {0, 0, 0, 1});
    clock_bytes(want, 8, 0x03);
    at(want, 88, {0x01, 0x02, 0x03, 0x04});
    at(want, 96, {0, 0, 0, 2, 0, 0, 0, 0, 192, 0, 2, 7});
    at(want, 120, {0xFF, 0xFF, 0xFF, 0xFC, 0xFF, 0xFF, 0xFF, 0xFD, 0xFF, 0xFF, 0xFC, 0x18});

    bytes got(136, 0xEE);
    ptp_comms_msg_bmc_encode(&msg, got.data());
    EXPECT_EQ(got, want);

    ptp_comms_msg_bmc back{};
    ASSERT_EQ(ptp_comms_msg_bmc_decode(want.data(), want.size(), &back), 0u);
    EXPECT_EQ(back.present, 1u);
    EXPECT_TRUE(clock_equal(back.clock, msg.clock));
    EXPECT_EQ(back.ifhandle, 0x01020304u);
    EXPECT_EQ(back.address.encap, PTP_ENCAP_IPV4);
    EXPECT_EQ(std::memcmp(back.address.value, msg.address.value, sizeof msg.address.value), 0);
    EXPECT_EQ(back.sync_interval, -4);
    EXPECT_EQ(back.min_delay_req_interval, -3);
    EXPECT_EQ(back.delay_asymmetry, -1000);

    // Withdrawing the node's best master is 136 zero bytes, whatever the record still holds.
    msg.present = 0;
    ptp_comms_msg_bmc_encode(&msg, got.data());
    EXPECT_EQ(got, bytes(136, 0));
}

TEST(PtpCommsMsg, TimeUpdateBytesBothWays)
{
    ptp_comms_time_record_type recs[2]{};
    recs[0].message = 0;
    recs[1].message = 1;
    for (uint8_t i = 0; i < PTP_COMMS_TIME_RECORD_STAMPS_SIZE; i++) {
        recs[0].timestamps[i] = i;
        recs[1].timestamps[i] = static_cast<uint8_t>(0xA0 + i);
    }
    ASSERT_EQ(ptp_comms_msg_time_update_size(2), 52u);

    bytes want(52, 0);
    at(want, 0, {0, 0, 0, 2});
    at(want, 4, {0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19});
    at(want, 28, {0,    0,    0,    1,    0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7,
                  0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF, 0xB0, 0xB1, 0xB2, 0xB3});

    bytes got(52, 0xEE);
    ASSERT_EQ(ptp_comms_msg_time_update_encode(recs, 2, got.data(), got.size()), 0u);
    EXPECT_EQ(got, want);
    EXPECT_EQ(ptp_comms_msg_time_update_encode(recs, 2, got.data(), 51), PTP_ZERR_INVALID_ARG);

    ptp_comms_msg_time_update_view view{};
    ASSERT_EQ(ptp_comms_msg_time_update_decode(want.data(), want.size(), &view), 0u);
    ASSERT_EQ(view.count, 2u);
    for (uint32_t i = 0; i < 2; i++) {
        ptp_comms_time_record_type r{};
        ptp_comms_msg_time_update_record(&view, i, &r);
        EXPECT_EQ(r.message, recs[i].message);
        EXPECT_EQ(std::memcmp(r.timestamps, recs[i].timestamps, sizeof r.timestamps), 0) << i;
    }
}

TEST(PtpCommsMsg, PortNumberBytesBothWays)
{
    const ifhtype handles[] = {0x01020304, 0xA0B0C0D0};
    bytes want_handles(12, 0);
    at(want_handles, 0, {0, 0, 0, 2, 0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0, 0xC0, 0xD0});
    bytes got(12, 0xEE);
    ASSERT_EQ(ptp_comms_msg_port_num_handles_size(2), 12u);
    ASSERT_EQ(ptp_comms_msg_port_num_handles_encode(handles, 2, got.data(), got.size()), 0u);
    EXPECT_EQ(got, want_handles);
    EXPECT_EQ(ptp_comms_msg_port_num_handles_encode(handles, 2, got.data(), 11), PTP_ZERR_INVALID_ARG);

    ptp_comms_msg_port_num_view view{};
    ASSERT_EQ(ptp_comms_msg_port_num_handles_decode(want_handles.data(), want_handles.size(), &view), 0u);
    ASSERT_EQ(view.count, 2u);
    EXPECT_EQ(ptp_comms_msg_port_num_handle(&view, 0), 0x01020304u);
    EXPECT_EQ(ptp_comms_msg_port_num_handle(&view, 1), 0xA0B0C0D0u);

    const tessel_port_num_entry_type entries[] = {{0x01020304, 0x0506}, {0xA0B0C0D0, 0xFFFF}};
    bytes want_entries(20, 0);
    at(want_entries, 0, {0, 0, 0, 2, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0, 0});
    at(want_entries, 12, {0xA0, 0xB0, 0xC0, 0xD0, 0xFF, 0xFF, 0, 0});
    got.assign(20, 0xEE);
    ASSERT_EQ(ptp_comms_msg_port_num_entries_size(2), 20u);
    ASSERT_EQ(ptp_comms_msg_port_num_entries_encode(entries, 2, got.data(), got.size()), 0u);
    EXPECT_EQ(got, want_entries);
    EXPECT_EQ(ptp_comms_msg_port_num_entries_encode(entries, 2, got.data(), 19), PTP_ZERR_INVALID_ARG);

    // An allocate answer sized for a longer request: the entries past the count are not read.
    bytes alloc = want_entries;
    alloc.resize(28, 0x77);
    alloc[3] = 1;
    ASSERT_EQ(ptp_comms_msg_port_num_entries_decode(alloc.data(), alloc.size(), &view), 0u);
    ASSERT_EQ(view.count, 1u);
    const tessel_port_num_entry_type e = ptp_comms_msg_port_num_entry(&view, 0);
    EXPECT_EQ(e.ifhandle, 0x01020304u);
    EXPECT_EQ(e.port_num, 0x0506);

    // Empty lists are messages too (an agent with no numbers resyncs with count 0).
    bytes empty(4, 0xEE);
    ASSERT_EQ(ptp_comms_msg_port_num_entries_encode(nullptr, 0, empty.data(), empty.size()), 0u);
    EXPECT_EQ(empty, bytes(4, 0));
    ASSERT_EQ(ptp_comms_msg_port_num_entries_decode(empty.data(), empty.size(), &view), 0u);
    EXPECT_EQ(view.count, 0u);
}

// Every decoder refuses input that is short or whose count overruns it, and leaves its output
// as it was.
TEST(PtpCommsMsg, ShortOrOverrunningInputIsRefused)
{
    enum kind {
        ANNOUNCE,
        BMC,
        TIME,
        HANDLES,
        ENTRIES
    };
    struct row {
        const char *what;
        kind k;
        bytes msg;
    };
    auto counted = [](uint32_t count, size_t body) {
        bytes b(4 + body, 0);
        b[0] = static_cast<uint8_t>(count >> 24);
        b[1] = static_cast<uint8_t>(count >> 16);
        b[2] = static_cast<uint8_t>(count >> 8);
        b[3] = static_cast<uint8_t>(count);
        return b;
    };
    const row rows[] = {
        {"announce one byte short", ANNOUNCE, bytes(191, 0)},
        {"announce empty", ANNOUNCE, bytes{}},
        {"bmc one byte short", BMC, bytes(135, 0)},
        {"time update without count", TIME, bytes(3, 0)},
        {"time update one byte short", TIME, counted(2, 47)},
        {"time update with trailing bytes", TIME, counted(1, 25)},
        {"time update count all ones", TIME, counted(0xFFFFFFFF, 24)},
        {"handles without count", HANDLES, bytes(2, 0)},
        {"handles count one too many", HANDLES, counted(3, 8)},
        {"handles count all ones", HANDLES, counted(0xFFFFFFFF, 8)},
        {"entries count one too many", ENTRIES, counted(2, 15)},
        {"entries count all ones", ENTRIES, counted(0x20000000, 16)},
    };
    for (const row &r : rows) {
        const uint8_t *p = r.msg.empty() ? nullptr : r.msg.data();
        zerrno rc = 0;
        switch (r.k) {
        case ANNOUNCE: {
            ptp_comms_msg_announce out{};
            out.domain = 99;
            rc = ptp_comms_msg_announce_decode(p, r.msg.size(), &out);
            EXPECT_EQ(out.domain, 99) << r.what;
            break;
        }
        case BMC: {
            ptp_comms_msg_bmc out{};
            out.ifhandle = 99;
            rc = ptp_comms_msg_bmc_decode(p, r.msg.size(), &out);
            EXPECT_EQ(out.ifhandle, 99u) << r.what;
            break;
        }
        case TIME: {
            ptp_comms_msg_time_update_view out{99, nullptr};
            rc = ptp_comms_msg_time_update_decode(p, r.msg.size(), &out);
            EXPECT_EQ(out.count, 99u) << r.what;
            break;
        }
        case HANDLES:
        case ENTRIES: {
            ptp_comms_msg_port_num_view out{99, nullptr};
            rc = r.k == HANDLES ? ptp_comms_msg_port_num_handles_decode(p, r.msg.size(), &out)
                                : ptp_comms_msg_port_num_entries_decode(p, r.msg.size(), &out);
            EXPECT_EQ(out.count, 99u) << r.what;
            break;
        }
        }
        EXPECT_EQ(rc, PTP_ZERR_INVALID_ARG) << r.what;
    }
}

} // namespace
