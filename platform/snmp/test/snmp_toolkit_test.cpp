// Instance decoding with its carry, and the dotted identifiers, as tables.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "snmp_host.h"
#include "snmp_toolkit.h"

namespace {

struct decode_case {
    std::vector<uint32_t> arcs;
    int search;
    int carry_in;
    int ok;
    uint32_t value;
    int carry_out;
};

TEST(SnmpToolkit, InstToUIntTakesTheCarryAndWrapsIntoTheComponentBefore)
{
    const std::vector<decode_case> cases = {
        {{7}, SNMP_EXACT, 0, 0, 7, 0},
        {{}, SNMP_EXACT, 0, -1, 0, 0},         // an exact request needs the arc
        {{7}, SNMP_NEXT, 1, 0, 8, 0},          // the successor of the instance
        {{7}, SNMP_NEXT, 0, 0, 7, 0},          // no carry: as it is
        {{}, SNMP_NEXT, 1, 0, 0, 0},           // a shorter request lies below every instance
        {{UINT32_MAX}, SNMP_NEXT, 1, 0, 0, 1}, // wraps, the carry goes on
        {{UINT32_MAX}, SNMP_EXACT, 0, 0, UINT32_MAX, 0},
    };
    for (const decode_case &c : cases) {
        std::vector<uint32_t> arcs = c.arcs;
        OID oid{static_cast<int32_t>(arcs.size()), arcs.data()};
        uint32_t value = 99;
        int carry = c.carry_in;
        EXPECT_EQ(InstToUInt(&oid, 0, &value, c.search, &carry) < 0 ? -1 : 0, c.ok);
        if (c.ok == 0) {
            EXPECT_EQ(value, c.value);
            EXPECT_EQ(carry, c.carry_out);
        }
    }
}

TEST(SnmpToolkit, InstToIntRefusesArcsBeyondTheSignedRange)
{
    std::vector<uint32_t> arcs = {0x80000000u};
    OID oid{1, arcs.data()};
    int32_t value = 0;
    int carry = 0;
    EXPECT_LT(InstToInt(&oid, 0, &value, SNMP_EXACT, &carry), 0);
    carry = 1;
    ASSERT_EQ(InstToInt(&oid, 0, &value, SNMP_NEXT, &carry), 0);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(carry, 1);
    arcs[0] = 0x7ffffffeu;
    carry = 1;
    ASSERT_EQ(InstToInt(&oid, 0, &value, SNMP_NEXT, &carry), 0);
    EXPECT_EQ(value, INT32_MAX);
    EXPECT_EQ(carry, 0);
}

TEST(SnmpToolkit, DottedIdentifiers)
{
    std::vector<uint32_t> arcs = {1, 3, 6, 1, 4, 1, 47071, 9, 760, 0, 14};
    OID oid{static_cast<int32_t>(arcs.size()), arcs.data()};
    char text[SNMP_DOT_OID_MAX];
    ASSERT_EQ(MakeDotFromOID(&oid, text), 0);
    EXPECT_STREQ(text, "1.3.6.1.4.1.47071.9.760.0.14");
    EXPECT_EQ(snmp_oid_parse(text), arcs);
    EXPECT_EQ(snmp_oid_text(arcs), text);
    for (const char *bad : {"1..3", "1.3.", "a.b", "1.99999999999"}) {
        EXPECT_TRUE(snmp_oid_parse(bad).empty()) << bad;
    }
}

} // namespace
