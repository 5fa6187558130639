#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ptp_address.h"
#include "ptp_zerr_codes.h"

namespace {

ptp_address_type make(uint32_t encap, std::vector<uint8_t> bytes)
{
    ptp_address_type a{};
    a.encap = encap;
    memcpy(a.value, bytes.data(), bytes.size());
    return a;
}

TEST(Address, OrdersByKindThenBytes)
{
    const ptp_address_type mac = make(PTP_ENCAP_ETHERNET, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    const ptp_address_type v4_low = make(PTP_ENCAP_IPV4, {10, 0, 0, 1});
    const ptp_address_type v4_high = make(PTP_ENCAP_IPV4, {192, 0, 2, 1});
    const ptp_address_type v6 = make(PTP_ENCAP_IPV6, {0x20, 0x01});
    // Ascending order: the kind outranks any byte, bytes compare unsigned, first byte first.
    const std::vector<const ptp_address_type *> order{&mac, &v4_low, &v4_high, &v6};
    for (size_t i = 0; i < order.size(); i++) {
        for (size_t j = 0; j < order.size(); j++) {
            int r = ptp_address_compare(order[i], order[j]);
            EXPECT_EQ(r < 0, i < j) << i << " " << j;
            EXPECT_EQ(r == 0, i == j) << i << " " << j;
            EXPECT_EQ(ptp_address_equal(order[i], order[j]), i == j ? 1 : 0);
        }
    }
    // Bytes beyond the kind's length do not count.
    ptp_address_type v4_junk = v4_low;
    v4_junk.value[4] = 0x55;
    EXPECT_EQ(ptp_address_compare(&v4_low, &v4_junk), 0);
    ptp_address_type mac_junk = mac;
    mac_junk.value[6] = 0x55;
    EXPECT_EQ(ptp_address_equal(&mac, &mac_junk), 1);
    ptp_address_type v6_last = v6;
    v6_last.value[15] = 1;
    EXPECT_LT(ptp_address_compare(&v6, &v6_last), 0);
    EXPECT_EQ(ptp_address_equal(nullptr, nullptr), 1);
    EXPECT_EQ(ptp_address_equal(&mac, nullptr), 0);
}

TEST(Address, WireFormIsKindReservedValue)
{
    ptp_address_type a;
    memset(&a, 0xAA, sizeof(a));
    const uint8_t ip[4] = {192, 0, 2, 7};
    ptp_address_set_ipv4(&a, ip);
    uint8_t wire[PTP_ADDRESS_WIRE_SIZE];
    ptp_address_to_wire(&a, wire);
    const uint8_t want[PTP_ADDRESS_WIRE_SIZE] = {0, 0, 0, 2, 0, 0, 0, 0, 192, 0, 2, 7};
    EXPECT_EQ(memcmp(wire, want, sizeof(want)), 0);
    ptp_address_type back{};
    ASSERT_EQ(ptp_address_from_wire(wire, sizeof(wire), &back), ZERR_OK);
    EXPECT_EQ(ptp_address_equal(&a, &back), 1);
    ptp_address_type untouched = back;
    EXPECT_EQ(ptp_address_from_wire(wire, sizeof(wire) - 1, &untouched), PTP_ZERR_INVALID_ARG);
    EXPECT_EQ(memcmp(&untouched, &back, sizeof(back)), 0);
}

} // namespace
