// The chassis description: the nodes of a simulated chassis, their roles, interfaces, what
// carries each interface, their interface capabilities, and the processes to run per node.
//
// Read from one TOML file. Every error names the file, the line and the key; a file with any
// error gives no description at all.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "zerrno.h"

inline constexpr uint32_t CHASSIS_ZERR_FACILITY = 0x7f05;
inline constexpr zerrno CHASSIS_ERR_INVALID = zerr_make(CHASSIS_ZERR_FACILITY, 1, 22 /*EINVAL*/);
inline constexpr zerrno CHASSIS_ERR_FILE = zerr_make(CHASSIS_ZERR_FACILITY, 2, 2 /*ENOENT*/);
inline constexpr zerrno CHASSIS_ERR_SYNTAX = zerr_make(CHASSIS_ZERR_FACILITY, 3, 22 /*EINVAL*/);
inline constexpr zerrno CHASSIS_ERR_CONTENT = zerr_make(CHASSIS_ZERR_FACILITY, 4, 22 /*EINVAL*/);

// Interface-manager line states.
inline constexpr uint32_t CHASSIS_LINE_ADMIN_DOWN = 1;
inline constexpr uint32_t CHASSIS_LINE_DOWN = 2;
inline constexpr uint32_t CHASSIS_LINE_UP = 3;

enum class chassis_carrier_type : uint32_t {
    NONE,   // nothing: what the interface sends is lost
    LINK,   // an in-memory link to an interface of another node
    PEER,   // a simulated peer, named
    DEVICE, // a Linux network device, optionally in a network namespace
};

struct chassis_intf_type {
    std::string name;
    uint32_t handle = 0;
    uint32_t type = 0;
    uint32_t line_state = CHASSIS_LINE_UP;
    bool has_mac = false;
    std::array<uint8_t, 6> mac{};
    std::vector<std::array<uint8_t, 4>> ipv4;  // network order, primary first
    std::vector<std::array<uint8_t, 16>> ipv6; // network order
    uint32_t vrf = 0;
    chassis_carrier_type carrier = chassis_carrier_type::NONE;
    std::string link_node; // LINK: the other node's name
    std::string link_intf; // LINK: the other interface's name
    std::string peer;      // PEER
    std::string device;    // DEVICE
    std::string netns;     // DEVICE, empty for the current namespace
    uint32_t line = 0;     // where it was described
};

// The interface capabilities of a node's hardware, as the capability library reports them.
struct chassis_caps_type {
    uint32_t api_version = 2;
    uint16_t flags = 0x03ff;
    uint8_t log_max_rate = 7;
};

// The node's PTP clock as the controller's platform library reports it: its capabilities and its
// properties (the defaults are a free-running software clock). The sync state is not described:
// it follows the servo.
struct chassis_clock_type {
    uint32_t api_version = 2;   // capability API version
    uint16_t flags = 0x037b;    // capability bits, as the library's capability word
    uint8_t ql_o1 = 0;          // internal clock QL, SSM option 1 (0: none given)
    uint8_t ql_o2_g1 = 0;       // option 2, generation 1
    uint8_t ql_o2_g2 = 0;       // option 2, generation 2
    uint32_t holdover_min = 60; // seconds
    uint32_t holdover_max = 86400;
    uint8_t timescale = 1;         // 0 PTP, 1 arbitrary
    uint8_t time_source = 0xA0;    // IEEE 1588 time source (internal oscillator)
    uint8_t accuracy = 0xFE;       // IEEE 1588 clock accuracy (unknown)
    uint16_t oslv = 0xFFFF;        // offset scaled log variance
    uint32_t primary_ref_type = 0; // 0 none, 1 PRC, 2 EPRC, 3 PRTC, 4 EPRTC
    bool frequency_traceable = false;
    bool time_traceable = false;
    bool has_utc_offset = false; // the clock knows UTC: offset given, no leap second pending
    int16_t utc_offset = 0;      // seconds
    bool has_ql = false;         // the clock's own quality level
    uint8_t ql_option = 0;       // SSM option 1 to 3
    uint8_t ql_value = 0;
};

struct chassis_node_type {
    std::string name; // external name, such as "0/RP0/CPU0"
    uint32_t node_id = 0;
    bool is_rp = false;   // route processor, else line card
    bool standby = false; // the standby of a redundant pair
    bool kvolm = false;   // holds the logical router's designated shelf-controller role
    chassis_caps_type caps;
    chassis_clock_type clock;
    std::vector<chassis_intf_type> interfaces;
    uint32_t line = 0;
};

// A program the process manager runs on every node it applies to.
struct chassis_process_type {
    std::string name;
    std::string program; // absolute, or looked up in $PTP_BIN_DIR
    std::vector<std::string> args;
    bool on_rp = true;
    bool on_lc = true;
    // Started again on a node where it left by itself once configuration for that node's
    // interfaces appears in the configuration database (the agent leaves with its last interface).
    bool restart_on_config = false;
    // Started again on every node where it left by itself once global PTP configuration appears
    // (the global verifier leaves with the last global item).
    bool restart_on_global_config = false;
    uint32_t line = 0;
};

struct chassis_desc_type {
    std::string path;
    bool has_lr_mac = false;
    std::array<uint8_t, 6> lr_mac{};
    std::vector<chassis_node_type> nodes;
    std::vector<chassis_process_type> processes;
};

// Read and check a description. 0 and a new description in *out; otherwise an error code and,
// when error is not null, one line "file:line: key: what is wrong" in *error.
zerrno chassis_load(const char *path, chassis_desc_type **out, std::string *error);
// The same from text (name stands for the file in error lines).
zerrno chassis_load_text(const std::string &text, const char *name, chassis_desc_type **out, std::string *error);
void chassis_free(chassis_desc_type *desc);

// Look-ups; null when absent.
const chassis_node_type *chassis_find_node(const chassis_desc_type *desc, uint32_t node_id);
const chassis_node_type *chassis_find_node_by_name(const chassis_desc_type *desc, const std::string &name);
const chassis_intf_type *chassis_find_intf(const chassis_node_type *node, const std::string &name);

// The sample description that ships with the project (one RP, two LCs).
const char *chassis_sample_path();
