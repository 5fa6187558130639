// Interoperation configuration: the checks of the interop rows, the interface's record against
// its profile's, and the applied record as the Announce conversions read it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "tessel_alloc.h"
#include "tessel_cfg_gl.h"
#include "tessel_cfg_global_test_fake.h"
#include "tessel_cfg_interop.h"
#include "tessel_intf_caps.h"
#include "tessel_port_mgr.h"
#include "tessel_utils.h"

namespace {

constexpr uint16_t ALL_CAPS = 0x03ff;
constexpr uint32_t CREATE = NODRA_EVENT_CREATE;
constexpr uint32_t SET = NODRA_EVENT_SET;
constexpr const char *IF = "Gi0/0/0/1";

using verify_fn = zerrno (*)(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                             const bgen_args_td *);
using apply_fn = zerrno (*)(const nodra_verify_event_info_td *, void *, const bgen_args_td *);

bgen_args_td mapping_args(const char *ifname, uint32_t bg_ident, int64_t from_class)
{
    bgen_args_td a = cfg_args_name(ifname, bg_ident);
    if (from_class >= 0) {
        bgen_args_set_uint(&a, 1, static_cast<uint32_t>(from_class));
    }
    return a;
}

class CfgInteropTest : public ::testing::Test {
protected:
    void SetUp() override { cfg_fake_reset(ALL_CAPS); }
    void TearDown() override { cfg_fake_teardown(); }

    zerrno apply(apply_fn fn, cfg_event_type e, bgen_args_td args)
    {
        uint32_t batch_state = 0;
        return fn(cfg_event_info(e), &batch_state, &args);
    }
};

struct check_case {
    const char *name;
    verify_fn fn;
    uint32_t bg_ident;
    std::function<cfg_event_type()> event;
    int64_t key; // mapping rows: the class to map (-1: none)
    uint16_t caps;
    zerrno code;
    const char *text;
};

TEST_F(CfgInteropTest, ChecksAndTexts)
{
    const char *accuracy_text = "Failed to verify the interop clock accuracy value. The clock accuracy must be a value "
                                "between 32 and 49, or 254, as specified by the IEEE 1588 standard";
    const char *mapping_text = "Failed to verify the interop clock class mapping value. Each part of the clock class "
                               "mapping must be between 0 and 255.";
    const auto v = [](uint32_t n) { return [n] { return cfg_event_u32(SET, n); }; };
    const check_case cases[] = {
        {"accuracy 31", tessel_cfg_if_verify_interop_clock_accuracy, 2, v(31), -1, ALL_CAPS,
         PTP_ZERR2_CFG_CLOCK_ACCURACY, accuracy_text},
        {"accuracy 50", tessel_cfg_if_verify_interop_clock_accuracy, 8, v(50), -1, ALL_CAPS,
         PTP_ZERR2_CFG_CLOCK_ACCURACY, accuracy_text},
        {"accuracy 32", tessel_cfg_if_verify_interop_clock_accuracy, 2, v(32), -1, ALL_CAPS, 0, ""},
        {"accuracy 49", tessel_cfg_if_verify_interop_clock_accuracy, 2, v(49), -1, ALL_CAPS, 0, ""},
        {"accuracy 254", tessel_cfg_if_verify_interop_clock_accuracy, 2, v(254), -1, ALL_CAPS, 0, ""},
        {"profile 4", tessel_cfg_if_verify_interop_profile, 0, v(4), -1, ALL_CAPS, PTP_ZERR_CFG_PROFILE,
         "Failed to verify the interop profile value."},
        {"domain 256", tessel_cfg_if_verify_interop_domain, 0, v(256), -1, ALL_CAPS, PTP_ZERR_CFG_DOMAIN,
         "Failed to verify the interop domain value. The domain must be between 0 and 255."},
        {"priority 256", tessel_cfg_if_verify_interop_priority, 6, v(256), -1, ALL_CAPS, PTP_ZERR_CFG_PRIORITY,
         "Failed to verify the interop priority value. The priority must be between 0 and 255."},
        {"OSLV 65536", tessel_cfg_if_verify_interop_oslv, 3, v(65536), -1, ALL_CAPS, PTP_ZERR2_CFG_OSLV,
         "Failed to verify the interop OSLV value. The value must be between 0 and 65535."},
        {"default class 256", tessel_cfg_if_verify_interop_clock_class_default, 4, v(256), -1, ALL_CAPS,
         PTP_ZERR_CFG_CLOCK_CLASS,
         "Failed to verify the interop default clock class value. The default clock class must be between 0 and "
         "255."},
        {"mapping without a key", tessel_cfg_if_verify_interop_clock_class_mapping, 5, v(6), -1, ALL_CAPS,
         PTP_ZERR_CFG_ARGUMENT, mapping_text},
        {"mapping key 256, also on delete", tessel_cfg_if_verify_interop_clock_class_mapping, 11,
         [] { return cfg_event_delete(); }, 256, ALL_CAPS, PTP_ZERR_CFG_CLOCK_CLASS, mapping_text},
        {"mapping to 256", tessel_cfg_if_verify_interop_clock_class_mapping, 5, v(256), 6, ALL_CAPS,
         PTP_ZERR_CFG_CLOCK_CLASS, mapping_text},
        {"mapping 6 to 7", tessel_cfg_if_verify_interop_clock_class_mapping, 5, v(7), 6, ALL_CAPS, 0, ""},
        {"no PTP, even a delete", tessel_cfg_if_verify_interop_domain, 0, [] { return cfg_event_delete(); }, -1, 0,
         PTP_ZERR_CARD_NO_PTP, "Failed to verify the interop domain value. The domain must be between 0 and 255."},
        {"a set without a value", tessel_cfg_if_verify_interop_domain, 0,
         [] {
             cfg_event_type e = cfg_event_u32(SET, 1);
             e.bytes.clear();
             return e;
         },
         -1, ALL_CAPS, PTP_ZERR_CFG_DOMAIN,
         "Failed to verify the interop domain value. The domain must be between 0 and 255."},
    };
    for (const check_case &c : cases) {
        SCOPED_TRACE(c.name);
        cfg_fake_teardown();
        cfg_fake_reset(c.caps);
        cfg_event_type e = c.event();
        bgen_args_td args = mapping_args(IF, c.bg_ident, c.key);
        char *text = nullptr;
        nodra_verify_result_td result{99};
        EXPECT_EQ(c.fn(cfg_event_info(e), &text, &result, nullptr, &args), c.code);
        EXPECT_EQ(result.result, c.code == 0 ? NODRA_VERIFY_RESULT_PASS : NODRA_VERIFY_RESULT_FAIL);
        EXPECT_EQ(std::string(text != nullptr ? text : ""), c.text);
        std::free(text);
        EXPECT_EQ(tessel_cfg_verify_batch_has_valid_item, c.code == 0);
    }

    // A delete of the clock accuracy reports 254 as its value.
    cfg_event_type d = cfg_event_delete();
    bgen_args_td args = cfg_args_name(IF, 2);
    uint32_t value = 0;
    bool is_delete = false;
    char ifname[64] = {};
    ASSERT_EQ(tessel_cfg_if_check_interop_clock_accuracy(cfg_event_info(d), nullptr, nullptr, &value, &args, ifname,
                                                         &is_delete),
              0u);
    EXPECT_EQ(value, 254u);
    EXPECT_TRUE(is_delete);
    EXPECT_STREQ(ifname, IF);
}

TEST_F(CfgInteropTest, OwnRecordLivesWithItsValuesAndChangesReachTheProtocolThread)
{
    tessel_ipc_idb_type *idb = cfg_idb(IF);
    idb->flags |= TESSEL_IPC_FLAG_ENABLED;
    ASSERT_EQ(apply(tessel_cfg_if_apply_interop_priority, cfg_event_u32(CREATE, 5), cfg_args_name(IF, 0)), 0u);
    ASSERT_NE(idb->if_config.interop_cfg, nullptr);
    ASSERT_NE(idb->applied_config.interop_cfg, nullptr);
    EXPECT_EQ(idb->if_config_flags & TESSEL_CFG_MASK_INTEROP, TESSEL_CFG_MASK_INTEROP);
    EXPECT_EQ(idb->applied_config.interop_cfg->presence, TESSEL_INTEROP_INGRESS_PRIORITY1);
    EXPECT_EQ(idb->applied_config.interop_cfg->ingress.priority1, 5);
    EXPECT_NE(idb->flags & TESSEL_IPC_FLAG_UPDATE_INTEROP, 0u);
    EXPECT_EQ(cfg_fake.if_update_add, std::vector<std::string>{IF});
    EXPECT_EQ(cfg_debug_lines(),
              std::vector<std::string>{"CONFIG: Gi0/0/0/1: Interop ingress priority1 config Create event: 5"});

    // The same value again: no change, nothing queued.
    idb->flags = TESSEL_IPC_FLAG_ENABLED;
    cfg_fake.if_update_add.clear();
    ASSERT_EQ(apply(tessel_cfg_if_apply_interop_priority, cfg_event_u32(SET, 5), cfg_args_name(IF, 0)), 0u);
    EXPECT_EQ(idb->flags & TESSEL_IPC_FLAG_UPDATE_INTEROP, 0u);
    EXPECT_TRUE(cfg_fake.if_update_add.empty());

    // Its only value deleted: the own and the applied record go, and that is a change.
    ASSERT_EQ(apply(tessel_cfg_if_apply_interop_priority, cfg_event_delete(), cfg_args_name(IF, 0)), 0u);
    EXPECT_EQ(idb->if_config.interop_cfg, nullptr);
    EXPECT_EQ(idb->applied_config.interop_cfg, nullptr);
    EXPECT_EQ(idb->if_config_flags, 0u);
    EXPECT_NE(idb->flags & TESSEL_IPC_FLAG_UPDATE_INTEROP, 0u);
    EXPECT_EQ(cfg_fake.if_update_add, std::vector<std::string>{IF});
    EXPECT_FALSE(tessel_cfg_sweep_needed); // PTP is still enabled on it

    // A failed allocation of the own record fails the item and changes nothing.
    tessel_alloc_test_fail(0, 1);
    EXPECT_EQ(apply(tessel_cfg_if_apply_interop_domain, cfg_event_u32(CREATE, 3), cfg_args_name(IF)), PTP_ZERR_NOMEM);
    EXPECT_EQ(idb->if_config.interop_cfg, nullptr);
    EXPECT_EQ(idb->if_config_flags, 0u);
}

TEST_F(CfgInteropTest, InterfaceValuesWinOverTheProfilesValueByValue)
{
    // The profile: domain 20, ingress priority1 9, class 6 maps to 7.
    const auto notify = [](auto fn, cfg_event_type e, bgen_args_td args) {
        zerrno result = 0;
        fn(cfg_event_info(e), &result, &args);
        return result;
    };
    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_interop_domain, cfg_event_u32(SET, 20), cfg_args_name("p")), 0u);
    ASSERT_EQ(notify(tessel_cfg_gl_prf_notify_interop_priority, cfg_event_u32(SET, 9), cfg_args_name("p", 0)), 0u);
    ASSERT_EQ(
        notify(tessel_cfg_gl_prf_notify_interop_clock_class_mapping, cfg_event_u32(SET, 7), mapping_args("p", 5, 6)),
        0u);
    tessel_prf_db_type *prf = tessel_cfg_prf_db_find("p");
    ASSERT_NE(prf, nullptr);
    tessel_ipc_idb_type *idb = cfg_idb(IF);
    {
        cfg_event_type e = cfg_event_text(CREATE, "p");
        bgen_args_td args = cfg_args_name(IF);
        uint32_t batch_state = 0;
        ASSERT_EQ(tessel_cfg_if_apply_profile(cfg_event_info(e), &batch_state, &args), 0u);
    }
    ASSERT_NE(idb->applied_config.interop_cfg, nullptr);
    EXPECT_EQ(idb->applied_config.interop_cfg->domain, 20);

    // The interface: priority1 3, class 7 maps to 13.
    ASSERT_EQ(apply(tessel_cfg_if_apply_interop_priority, cfg_event_u32(SET, 3), cfg_args_name(IF, 0)), 0u);
    ASSERT_EQ(apply(tessel_cfg_if_apply_interop_clock_class_mapping, cfg_event_u32(SET, 13), mapping_args(IF, 5, 7)),
              0u);
    const tessel_interop_config_type *applied = idb->applied_config.interop_cfg;
    ASSERT_NE(applied, nullptr);
    EXPECT_EQ(applied->presence,
              TESSEL_INTEROP_DOMAIN | TESSEL_INTEROP_INGRESS_PRIORITY1 | TESSEL_INTEROP_INGRESS_CLOCK_CLASS_MAPPING);
    EXPECT_EQ(applied->domain, 20);

    // What the Announce receipt makes of it: the interface's priority1, both mapping entries.
    const auto node = PTP_PROFILE_G8275_2;
    EXPECT_EQ(tessel_interop_convert_priority1(128, node, TESSEL_INTEROP_INGRESS, *applied), 3);
    EXPECT_EQ(tessel_interop_convert_clock_class(6, node, 1, TESSEL_INTEROP_INGRESS, *applied), 7);
    EXPECT_EQ(tessel_interop_convert_clock_class(7, node, 1, TESSEL_INTEROP_INGRESS, *applied), 13);
    EXPECT_EQ(tessel_interop_convert_clock_class(8, node, 1, TESSEL_INTEROP_INGRESS, *applied), 8);
    // Egress values are not touched by ingress configuration.
    EXPECT_EQ(tessel_interop_convert_priority1(128, node, TESSEL_INTEROP_EGRESS, *applied), 128);

    // Deleting the interface's priority1 brings the profile's back.
    ASSERT_EQ(apply(tessel_cfg_if_apply_interop_priority, cfg_event_delete(), cfg_args_name(IF, 0)), 0u);
    applied = idb->applied_config.interop_cfg;
    ASSERT_NE(applied, nullptr);
    EXPECT_EQ(tessel_interop_convert_priority1(128, node, TESSEL_INTEROP_INGRESS, *applied), 9);

    // The interface's mapping entry deleted: its table keeps only the profile's entry.
    ASSERT_EQ(apply(tessel_cfg_if_apply_interop_clock_class_mapping, cfg_event_delete(), mapping_args(IF, 5, 7)), 0u);
    EXPECT_EQ(idb->if_config.interop_cfg, nullptr);
    applied = idb->applied_config.interop_cfg;
    ASSERT_NE(applied, nullptr);
    EXPECT_EQ(tessel_interop_convert_clock_class(7, node, 1, TESSEL_INTEROP_INGRESS, *applied), 7);
    EXPECT_EQ(tessel_interop_convert_clock_class(6, node, 1, TESSEL_INTEROP_INGRESS, *applied), 7);
}

TEST_F(CfgInteropTest, MergeCopiesOnlyWhatTheSourceSets)
{
    tessel_interop_config_type target{};
    tessel_interop_config_type source{};
    tessel_cfg_interop_set_domain(&target, false, 4);
    tessel_cfg_interop_set_value(&target, TESSEL_CFG_INTEROP_OSLV, false, 0x4E5D, 0);
    tessel_cfg_interop_set_value(&target, 6 + TESSEL_CFG_INTEROP_CLOCK_CLASS_MAPPING, false, 52, 248);
    tessel_cfg_interop_set_profile(&source, false, PTP_PROFILE_G8265_1);
    tessel_cfg_interop_set_value(&source, 6 + TESSEL_CFG_INTEROP_CLOCK_CLASS_MAPPING, false, 58, 7);
    tessel_cfg_interop_merge(&target, &source);
    EXPECT_EQ(target.presence, TESSEL_INTEROP_PROFILE | TESSEL_INTEROP_DOMAIN | TESSEL_INTEROP_INGRESS_OSLV |
                                   TESSEL_INTEROP_EGRESS_CLOCK_CLASS_MAPPING);
    EXPECT_EQ(target.domain, 4);
    EXPECT_EQ(target.ingress.oslv, 0x4E5D);
    EXPECT_EQ(target.egress.clock_class_mapping[248].clock_class, 52);
    EXPECT_EQ(target.egress.clock_class_mapping[7].clock_class, 58);

    // A mapping delete keeps the table's bit while another entry is present.
    tessel_cfg_interop_set_value(&target, 6 + TESSEL_CFG_INTEROP_CLOCK_CLASS_MAPPING, true, 0, 248);
    EXPECT_NE(target.presence & TESSEL_INTEROP_EGRESS_CLOCK_CLASS_MAPPING, 0);
    tessel_cfg_interop_set_value(&target, 6 + TESSEL_CFG_INTEROP_CLOCK_CLASS_MAPPING, true, 0, 7);
    EXPECT_EQ(target.presence & TESSEL_INTEROP_EGRESS_CLOCK_CLASS_MAPPING, 0);
}

} // namespace
