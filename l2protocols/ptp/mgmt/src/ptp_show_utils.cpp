// The show tools' common frame.
#include "ptp_show_utils.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <string>

#include "evm.h"
#include "imc.h"
#include "ptp_bags.h"
#include "sysmgr.h"

ptp_show_options_type ptp_show_options;

namespace {

bool library_present = false;

char str_bufs[PTP_SHOW_STR_BUF_COUNT][PTP_SHOW_STR_BUF_SIZE];
uint32_t str_buf_index = 0;

event_mgr_type *show_evm = nullptr;
event_conn_type *show_conn = nullptr;
imc_ctx_type *show_imc = nullptr;

const char *plural(uint32_t n)
{
    return n == 1 ? "" : "s";
}

// Interface names are up to 63 characters: a walk or listing never cuts one.
constexpr size_t name_size = 64;

} // namespace

// ---- Options ----------------------------------------------------------------------------------

bool ptp_show_number(char letter, const char *text, uint32_t bits, uint32_t *value)
{
    char *end = nullptr;
    errno = 0;
    const unsigned long long number = strtoull(text, &end, 0);
    if (end == text || *end != '\0' || errno != 0 || strchr(text, '-') != nullptr || number >> bits != 0) {
        printf("Option '%c' value '%s' is not a number of at most %u bits\n", letter, text, bits);
        return false;
    }
    *value = static_cast<uint32_t>(number);
    return true;
}

bool ptp_show_parse_options(int argc, char **argv, const char *optstring)
{
    bool accepted = true;
    ptp_show_options = {};
    ptp_show_options.node = PTP_SHOW_NO_NODE;
    optind = 0; // a fresh scan, also when a process parses more than once
    opterr = 0;
    int c;
    uint32_t position = 0;
    while ((c = getopt(argc, argv, optstring)) != -1) {
        ++position;
        if (c > 0 && c < 128)
            ptp_show_options.seen[c] = position;
        if (c == ':') {
            printf("Option '%c' missing argument\n", optopt);
            ptp_show_options.error = true;
        } else if (c == '?') {
            printf("Unknown argument '%c'\n", optopt);
            ptp_show_options.error = true;
        } else if (c == 'i') {
            ptp_show_options.ifname = optarg;
            ptp_show_options.flag['i'] = true;
        } else if (c == 'h') {
            accepted = ptp_show_number('h', optarg, 32, &ptp_show_options.node) && accepted;
            ptp_show_options.flag['h'] = true;
        } else if (c > 0 && c < 128) {
            ptp_show_options.flag[c] = true;
            const char *letter = strchr(optstring, c);
            if (letter != nullptr && letter[1] == ':')
                ptp_show_options.value[c] = optarg;
        }
    }
    return accepted;
}

bool ptp_show_flag(char letter)
{
    return letter > 0 && ptp_show_options.flag[static_cast<unsigned char>(letter)];
}

bool ptp_show_check_interface_or_location()
{
    if (ptp_show_options.ifname != nullptr && ptp_show_options.node != PTP_SHOW_NO_NODE) {
        printf("Only one of interface or location must be specified\n");
        return false;
    }
    return true;
}

bool ptp_show_build_path(const char *item, char *path, size_t size)
{
    if (ptp_show_options.node != PTP_SHOW_NO_NODE) {
        snprintf(path, size, "%s%x/%s", "/oper/ptp/node/", ptp_show_options.node, item);
        return true;
    }
    if (ptp_show_flag('a') || ptp_show_options.ifname != nullptr) {
        snprintf(path, size, "/oper/ptp/%s", item);
        return true;
    }
    uint32_t node = 0;
    const zerrno rc = platform_get_my_nodeid(&node);
    if (rc != 0) {
        printf("Unable to obtain current node ID: %s\n\n", zerr_strerror(rc));
        return false;
    }
    snprintf(path, size, "%s%x/%s", "/oper/ptp/node/", node, item);
    return true;
}

// ---- Database ---------------------------------------------------------------------------------

bool ptp_show_library_present()
{
    if (!library_present)
        library_present = access(nodra_client_library_path(), R_OK) == 0;
    return library_present;
}

zerrno ptp_show_bind(nodra_conn_td **conn, const char *path)
{
    *conn = nullptr;
    if (!ptp_show_library_present())
        return NODRA_ERR_BIND_NO_LIBRARY;
    return _nodra_bind(conn, path, 6);
}

void ptp_show_unbind(nodra_conn_td *conn)
{
    if (conn != nullptr && ptp_show_library_present())
        _nodra_unbind(conn);
}

bool ptp_show_not_found(zerrno rc)
{
    return rc == NODRA_ERR_NOT_FOUND || rc == NODRA_ERR_EDM_NOT_FOUND;
}

zerrno ptp_show_item_get(nodra_conn_td *conn, const char *name, void **data, uint32_t *length)
{
    uint32_t format = 7;
    *data = nullptr;
    *length = 0;
    return nodra_item_get(conn, name, &format, data, length, 0);
}

void ptp_show_global_info(nodra_conn_td *conn, const char *name, ptp_show_item_printer_fn printer)
{
    void *data = nullptr;
    uint32_t length = 0;
    const zerrno rc = ptp_show_item_get(conn, name, &data, &length);
    if (rc == 0)
        printer(data, length);
    else if (ptp_show_not_found(rc))
        printf("PTP is not configured globally\n");
    else
        printf("Failed to get global information: %s\n", zerr_strerror(rc));
    free(data);
}

void ptp_show_intf_info(nodra_conn_td *conn, const char *ifname, ptp_show_header_printer_fn header,
                        ptp_show_item_printer_fn printer)
{
    void *data = nullptr;
    uint32_t length = 0;
    const zerrno rc = ptp_show_item_get(conn, ifname, &data, &length);
    if (rc == 0) {
        if (header != nullptr)
            header();
        printer(data, length);
    } else if (!ptp_show_not_found(rc)) {
        char display[name_size];
        snprintf(display, sizeof display, "%s", ifname);
        printf("Failed to get interface information for %s: %s\n", display, zerr_strerror(rc));
    }
    free(data);
}

void ptp_show_all_intfs_info(nodra_conn_td *conn, ptp_show_header_printer_fn header, ptp_show_item_printer_fn printer)
{
    uint32_t count = UINT32_MAX;
    nodra_datalist_td *list = nullptr;
    const zerrno rc = nodra_datalist(conn, "", "", &count, &list, 0);
    if (rc != 0) {
        if (!ptp_show_not_found(rc))
            printf("Failed to list interfaces: %s\n", zerr_strerror(rc));
        return;
    }
    if (header != nullptr)
        header();
    for (uint32_t i = 0; i < count; ++i) {
        const char *name = nullptr;
        uint32_t type = 0, length = 0;
        const void *data = nullptr;
        const zerrno next = nodra_datalist_next(list, &name, &type, &data, &length, 0);
        if (next != 0) {
            printf("Failed to get next item in datalist: %s\n", zerr_strerror(next));
            break;
        }
        printer(data, length);
    }
    nodra_datalist_free(list);
}

void ptp_show_list_intfs(char (**names)[64], uint32_t *count)
{
    *names = nullptr;
    *count = 0;
    nodra_conn_td *conn = nullptr;
    zerrno rc = ptp_show_bind(&conn, "/oper/ptp/interface/if/");
    if (rc != 0) {
        printf("Failed to bind to Nodra for listing intfs: %s\n", zerr_strerror(rc));
        return;
    }
    uint32_t listed = UINT32_MAX;
    nodra_list_td *list = nullptr;
    rc = nodra_list(conn, "", "", &listed, &list, 0);
    if (rc != 0) {
        if (!ptp_show_not_found(rc))
            printf("Failed to list intfs: %s\n", zerr_strerror(rc));
        ptp_show_unbind(conn);
        return;
    }
    auto *out = static_cast<char(*)[64]>(calloc(listed == 0 ? 1 : listed, name_size));
    if (out == nullptr) {
        printf("Failed to allocate memory for %u intfs\n", listed);
    } else {
        uint32_t n = 0;
        for (; n < listed; ++n) {
            const char *name = nullptr;
            rc = nodra_list_next(list, &name);
            if (rc != 0) {
                printf("Failed to iterate intfs: '%s'\n", zerr_strerror(rc));
                break;
            }
            // A name that does not fit its slot would be listed under another name: leave it out.
            if (strlen(name) >= name_size) {
                --listed;
                --n;
                continue;
            }
            memcpy(out[n], name, strlen(name) + 1);
        }
        if (rc != 0) {
            free(out);
        } else {
            *names = out;
            *count = n;
        }
    }
    nodra_list_free(list);
    ptp_show_unbind(conn);
}

// ---- Interface-manager connection -------------------------------------------------------------

namespace {

int on_conn_open(event_conn_type *, void *)
{
    if (show_imc != nullptr) {
        imc_control_server_unbind(show_imc);
        show_imc = nullptr;
    }
    imc_bind_params_type params{9, platform_get_type() < 2 ? 2u : 1u};
    int32_t connid = -1;
    if (imc_control_server_bind(&params, 1, &show_imc) != 0 || imc_conn_ctx_to_connid(show_imc, &connid) != 0)
        return -1;
    return connid;
}

} // namespace

zerrno ptp_show_event_mgr_init()
{
    show_evm = event_create_manager(nullptr, nullptr, 0);
    if (show_evm == nullptr) {
        printf("Failed to create event manager\n");
        return 0x47f29000u | static_cast<uint32_t>(errno);
    }
    zerrno rc = event_conn_create(show_evm, on_conn_open, 2, nullptr, &show_conn);
    if (rc == 0) {
        rc = event_conn_open(show_conn);
        if (rc == EVENT_CONN_ALREADY_OPEN)
            rc = 0;
    }
    return rc;
}

void ptp_show_event_mgr_cleanup()
{
    if (show_imc != nullptr) {
        imc_control_server_unbind(show_imc);
        show_imc = nullptr;
    }
    if (show_conn != nullptr) {
        event_conn_destroy(show_conn);
        show_conn = nullptr;
    }
    if (show_evm != nullptr) {
        event_manager_destroy(show_evm);
        show_evm = nullptr;
    }
}

// ---- Value-to-text helpers --------------------------------------------------------------------

void ptp_show_print_indent(uint32_t level)
{
    printf("%*s", static_cast<int>(level * 4), "");
}

char *ptp_show_get_str_buf()
{
    char *buf = str_bufs[str_buf_index];
    str_buf_index = (str_buf_index + 1) % PTP_SHOW_STR_BUF_COUNT;
    buf[0] = '\0';
    return buf;
}

const char *ptp_show_set_to_str(uint32_t flag)
{
    return flag != 0 ? "[SET]" : "[NOT SET]";
}

const char *ptp_show_range_to_str(uint32_t from, uint32_t to)
{
    char *buf = ptp_show_get_str_buf();
    snprintf(buf, PTP_SHOW_STR_BUF_SIZE, "%u to %u seconds", from, to);
    return buf;
}

const char *ptp_show_short_duration_to_str(uint32_t s)
{
    char *buf = ptp_show_get_str_buf();
    if (s < 60)
        snprintf(buf, PTP_SHOW_STR_BUF_SIZE, "%u second%s", s, plural(s));
    else
        snprintf(buf, PTP_SHOW_STR_BUF_SIZE, "%u minute%s, %u second%s", s / 60, plural(s / 60), s % 60,
                 plural(s % 60));
    return buf;
}

const char *ptp_show_duration_to_str(uint32_t s)
{
    char *buf = ptp_show_get_str_buf();
    const uint32_t m = s / 60 % 60, h = s / 3600 % 24, d = s / 86400;
    if (s < 60)
        snprintf(buf, PTP_SHOW_STR_BUF_SIZE, "%u second%s", s, plural(s));
    else if (s < 3600)
        snprintf(buf, PTP_SHOW_STR_BUF_SIZE, "%u minute%s, %u second%s", m, plural(m), s % 60, plural(s % 60));
    else if (s < 86400)
        snprintf(buf, PTP_SHOW_STR_BUF_SIZE, "%u hour%s, %u minute%s, %u second%s", h, plural(h), m, plural(m), s % 60,
                 plural(s % 60));
    else
        snprintf(buf, PTP_SHOW_STR_BUF_SIZE, "%u day%s, %u hour%s, %u minute%s", d, plural(d), h, plural(h), m,
                 plural(m));
    return buf;
}

const char *ptp_show_bag_timescale_to_str(uint32_t timescale)
{
    switch (timescale) {
    case 0: return "PTP";
    case 1: return "ARB";
    default: return "Unknown";
    }
}

const char *ptp_show_bag_timesource_to_str(uint32_t source)
{
    struct name_type {
        uint32_t value;
        const char *name;
    };
    static constexpr name_type names[] = {
        {0, "Not set"}, {0x10, "Atomic"},   {0x20, "GPS"},   {0x30, "Terrestrial Radio"}, {0x40, "PTP"},
        {0x50, "NTP"},  {0x60, "Hand-set"}, {0x90, "Other"}, {0xA0, "Internal"}};
    for (const name_type &n : names)
        if (n.value == source)
            return n.name;
    // The codes between have no name (0x70, 0x80): they are not some other source's.
    return "Unknown";
}

const char *ptp_show_bag_encap_to_str(uint32_t encap)
{
    switch (encap) {
    case 1: return "Ethernet";
    case 2: return "IPv4";
    case 3: return "IPv6";
    default: return "Unknown";
    }
}

const char *ptp_show_timestamp_to_str(uint64_t seconds, const uint32_t *nanoseconds)
{
    char *buf = ptp_show_get_str_buf();
    const time_t t = static_cast<time_t>(seconds);
    struct tm tm {};
    if (seconds > static_cast<uint64_t>(INT64_MAX) || localtime_r(&t, &tm) == nullptr)
        return buf;
    int n = snprintf(buf, PTP_SHOW_STR_BUF_SIZE, "%04d-%02d-%02d, %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                     tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    if (nanoseconds != nullptr && n > 0 && static_cast<size_t>(n) < PTP_SHOW_STR_BUF_SIZE)
        snprintf(buf + n, PTP_SHOW_STR_BUF_SIZE - n, ".%09u", *nanoseconds);
    return buf;
}

const char *ptp_show_log_interval_to_str(int32_t log_interval)
{
    char *buf = ptp_show_get_str_buf();
    // Intervals beyond 2^31 do not fit the count: they print as the largest that does.
    const auto power = [](int64_t n) { return n >= 31 ? 0x80000000u : 1u << n; };
    if (log_interval == 0)
        snprintf(buf, PTP_SHOW_STR_BUF_SIZE, "every second");
    else if (log_interval > 0)
        snprintf(buf, PTP_SHOW_STR_BUF_SIZE, "every %u seconds", power(log_interval));
    else
        snprintf(buf, PTP_SHOW_STR_BUF_SIZE, "%u per-second", power(-static_cast<int64_t>(log_interval)));
    return buf;
}

const char *ptp_show_grant_to_str(int8_t log_interval, uint32_t duration)
{
    char *interval = ptp_show_get_str_buf();
    snprintf(interval, PTP_SHOW_STR_BUF_SIZE, "%s,", ptp_show_log_interval_to_str(log_interval));
    char *buf = ptp_show_get_str_buf();
    snprintf(buf, PTP_SHOW_STR_BUF_SIZE, "%-18s %u seconds", interval, duration);
    return buf;
}

const char *ptp_show_mac_to_str(const uint8_t mac[6])
{
    char *buf = ptp_show_get_str_buf();
    snprintf(buf, PTP_SHOW_STR_BUF_SIZE, "%02x%02x.%02x%02x.%02x%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return buf;
}

const char *ptp_show_bag_address_to_str(const ptp_bag_address &address)
{
    char *buf = ptp_show_get_str_buf();
    switch (address.Encapsulation) {
    case PTP_BAG_ENCAP_Ethernet: return ptp_show_mac_to_str(address.value.MACAddress.macaddr);
    case PTP_BAG_ENCAP_IPv4: inet_ntop(AF_INET, &address.value.IPv4Address, buf, PTP_SHOW_STR_BUF_SIZE); return buf;
    case PTP_BAG_ENCAP_IPv6:
        inet_ntop(AF_INET6, address.value.IPv6Address.IPv6Address, buf, PTP_SHOW_STR_BUF_SIZE);
        return buf;
    default: return "Unknown";
    }
}

const char *ptp_show_bag_delay_mechanism_to_str(uint32_t mechanism)
{
    return mechanism == 0 ? "End to end" : "Unknown";
}

const char *ptp_show_ifhandle_to_str(uint32_t ifhandle)
{
    char *buf = ptp_show_get_str_buf();
    char name[IMC_NAME_SIZE];
    if (show_imc == nullptr || imc_s_interface_name(show_imc, ifhandle, name, sizeof name) != 0) {
        snprintf(buf, PTP_SHOW_STR_BUF_SIZE, "<Unknown (0x%8.8x)>", ifhandle);
        return buf;
    }
    snprintf(buf, PTP_SHOW_STR_BUF_SIZE, "%s", name);
    return buf;
}

const char *ptp_show_intf_type_to_str(uint32_t type, char *buffer, size_t size)
{
    snprintf(buffer, size, "type %u", type);
    return buffer;
}

namespace {

// The platform's reentrant address texts: the dotted IPv4 text of an address in network order,
// and the IPv6 text, into the caller's buffer.
const char *inet_ntoa_r(uint32_t address, char *buffer, socklen_t size)
{
    return inet_ntop(AF_INET, &address, buffer, size);
}

const char *inet6_ntoa_r(const uint8_t address[16], char *buffer, socklen_t size)
{
    return inet_ntop(AF_INET6, address, buffer, size);
}

// Appends each address's text (with its separator) while the buffer has more than reserve
// characters left, then cuts the last ", ".
template <typename Piece>
const char *addrs_to_str(uint32_t count, size_t reserve, char *buffer, size_t size, Piece piece)
{
    if (size == 0)
        return buffer;
    buffer[0] = '\0';
    size_t used = 0;
    for (uint32_t i = 0; i < count && used + reserve < size; ++i) {
        const int n = piece(i, buffer + used, size - used);
        if (n < 0 || used + static_cast<size_t>(n) >= size) {
            used = strlen(buffer);
            break;
        }
        used += static_cast<size_t>(n);
    }
    if (used >= 2 && buffer[used - 2] == ',')
        buffer[used - 2] = '\0';
    return buffer;
}

} // namespace

const char *ptp_show_ipv4_addrs_to_str(uint32_t count, const uint32_t *addresses, char *buffer, size_t size)
{
    return addrs_to_str(count, 13, buffer, size, [addresses](uint32_t i, char *out, size_t left) {
        char text[INET_ADDRSTRLEN];
        return snprintf(out, left, "%s%s", inet_ntoa_r(addresses[i], text, sizeof text),
                        i == 0 ? " (pri), " : " (sec), ");
    });
}

const char *ptp_show_ipv6_addrs_to_str(uint32_t count, const uint8_t (*addresses)[16], char *buffer, size_t size)
{
    return addrs_to_str(count, 19, buffer, size, [addresses](uint32_t i, char *out, size_t left) {
        char text[INET6_ADDRSTRLEN];
        return snprintf(out, left, "%s, ", inet6_ntoa_r(addresses[i], text, sizeof text));
    });
}

void ptp_show_print_servo_status(uint32_t status)
{
    static constexpr const char *names[] = {"Not supported by this platform",
                                            "Freerunning",
                                            "Acquiring a lock",
                                            "Frequency locked",
                                            "Phase aligned",
                                            "Holdover"};
    printf("%s\n", status < std::size(names) ? names[status] : "Unknown");
}

const char *ptp_show_ql_to_str(uint32_t ql)
{
    struct ql_type {
        uint32_t first;
        const char *const *names;
        uint32_t count;
    };
    static constexpr const char *basic[] = {"Invalid QL", "DNU", "Failed", "None"};
    static constexpr const char *o1[] = {"o1 ePRTC", "01 PRTC", "01 PRC", "o1 SSU A", "o1 SSU B",
                                         "o1 eEEC",  "o1 EEC1", "o1 SEC", "o1 ePRC"};
    static constexpr const char *o2g1[] = {"o2 G1 ePRTC", "o2 G1 PRTC", "o2 G1 PRS",  "o2 G1 STU",
                                           "o2 G1 ST2",   "o2 G1 ST3",  "o2 G1 eEEC", "o2 G1 EEC2",
                                           "o2 G1 SMC",   "o2 G1 ST4",  "o2 G1 RES",  "o2 G1 ePRC"};
    static constexpr const char *o2g2[] = {"o2 G2 ePRTC", "o2 G2 PRTC", "o2 G2 PRS",  "o2 G2 STU",  "o2 G2 ST2",
                                           "o2 G2 TNC",   "o2 G2 ST3E", "o2 G2 ST3",  "o2 G2 eEEC", "o2 G2 EEC2",
                                           "o2 G2 SMC",   "o2 G2 ST4",  "o2 G2 PROV", "o2 G2 ePRC"};
    static constexpr ql_type ranges[] = {{0, basic, 4}, {20, o1, 9}, {40, o2g1, 12}, {60, o2g2, 14}};
    ql &= 0xFF;
    for (const ql_type &r : ranges)
        if (ql >= r.first && ql < r.first + r.count)
            return r.names[ql - r.first];
    return "Not provided";
}

// ---- Shared pieces of the views ---------------------------------------------------------------

namespace {

// The item name below dir; a failed bind prints bind_text with shown, the path the tool names.
void show_item(const char *dir, const char *name, const char *shown, const char *bind_text, const char *get_text,
               ptp_show_item_printer_fn printer)
{
    nodra_conn_td *conn = nullptr;
    zerrno rc = ptp_show_bind(&conn, dir);
    if (rc != 0) {
        printf(bind_text, shown, zerr_strerror(rc));
        return;
    }
    void *data = nullptr;
    uint32_t length = 0;
    rc = ptp_show_item_get(conn, name, &data, &length);
    if (rc == 0)
        printer(data, length);
    else if (!ptp_show_not_found(rc))
        printf(get_text, zerr_strerror(rc));
    free(data);
    ptp_show_unbind(conn);
}

} // namespace

void ptp_show_item(const char *dir, const char *name, const char *bind_text, const char *get_text,
                   ptp_show_item_printer_fn printer)
{
    show_item(dir, name, dir, bind_text, get_text, printer);
}

void ptp_show_item_at(const char *path, const char *bind_text, const char *get_text, ptp_show_item_printer_fn printer)
{
    // The database binds folders, so the item is named in its own.
    const char *name = strrchr(path, '/');
    const std::string dir(path, name != nullptr ? static_cast<size_t>(name + 1 - path) : 0);
    show_item(dir.c_str(), name != nullptr ? name + 1 : path, path, bind_text, get_text, printer);
}

void ptp_show_intfs(const char *path, const char *bind_text, ptp_show_header_printer_fn header,
                    ptp_show_item_printer_fn printer)
{
    nodra_conn_td *conn = nullptr;
    const zerrno rc = ptp_show_bind(&conn, path);
    if (rc != 0) {
        printf(bind_text, path, zerr_strerror(rc));
        return;
    }
    if (ptp_show_options.ifname != nullptr)
        ptp_show_intf_info(conn, ptp_show_options.ifname, header, printer);
    else
        ptp_show_all_intfs_info(conn, header, printer);
    ptp_show_unbind(conn);
}

void ptp_show_print_traceability(const char *indent, uint32_t frequency, uint32_t time)
{
    if (frequency == 0 && time == 0)
        printf("%sNo frequency or time traceability\n", indent);
    else
        printf("%s%s%s%s\n", indent, frequency != 0 ? "Frequency-traceable" : "",
               frequency != 0 && time != 0 ? ", " : "", time != 0 ? "Time-traceable" : "");
}

void ptp_show_print_utc_offset(const char *indent, int32_t offset, uint32_t valid)
{
    // Signed: an offset below zero is not four thousand million seconds.
    printf("%sCurrent UTC offset: %d seconds %s\n", indent, offset, valid != 0 ? "(valid)" : "");
}

void ptp_show_print_leap(const char *indent, uint32_t leap)
{
    if (leap != 0)
        printf("%sLast minute contains %u seconds today\n", indent, leap == 1 ? 59u : 61u);
}
