// What the show tools' tests share: a run of a tool with its standard output captured, bags
// encoded into the in-process database, and golden texts.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bag.h"

// Standard output of fn, whole.
std::string ptp_show_capture(const std::function<void()> &fn);
// Runs a tool's entry with these arguments (argv[0] is the tool's name) and returns its output;
// its exit status must be 0.
std::string ptp_show_run(int (*entry)(int, char **), const std::vector<std::string> &args);
// Encodes record with the bag's descriptor and stores it at path (absolute).
void ptp_show_store_bag(const char *path, const void *record, const bag_descriptor_type *bag);
// Stores bytes that are no bag of the item's kind at path.
void ptp_show_store_garbage(const char *path);
// The golden text of name (under test/golden/).
std::string ptp_show_golden(const char *name);
// Expects out to be name's golden text, byte for byte (PTP_SHOW_GOLDEN_UPDATE=1 writes it instead,
// to be read over before it is kept).
void ptp_show_expect_golden(const char *name, const std::string &out);
// The error text of decoding the bytes ptp_show_store_garbage stores (as any bag).
std::string ptp_show_decode_error_text();
// A fresh database with the client library present (a readable file), bags registered.
void ptp_show_test_reset();

// A node's agent serving per-interface items below a binding (such as "/oper/ptp/interface/if/"):
// items by interface name, each an encoded bag, answered to gets, lists and data lists in pages,
// on a thread of its own as a process of its own would.
struct ptp_show_provider {
    explicit ptp_show_provider(const char *bind);
    ~ptp_show_provider();
    ptp_show_provider(const ptp_show_provider &) = delete;
    ptp_show_provider &operator=(const ptp_show_provider &) = delete;
    // Encodes record as name's item.
    void add(const std::string &name, const void *record, const bag_descriptor_type *bag);
    std::map<std::string, std::string> items;
    struct impl;
    std::unique_ptr<impl> p;
};
