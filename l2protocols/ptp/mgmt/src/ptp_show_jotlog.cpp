// The trace display tool: decoders of the four trace classes over the one trace-point table.
#include "ptp_show_jotlog.h"

#include <unistd.h>

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "imc.h"
#include "issul.h"
#include "ptp_strings.h"
#include "ptp_trace_points.h"
#include "tessel_utils.h"
#include "zerrno.h"

const char *const ptp_show_jotlog_buffers[] = {
    "ptp/tessel/det",      "ptp/tessel/sum", "ptp/tessel/unq", "ptp/quorrin/det", "ptp/quorrin/sum", "ptp/quorrin/unq",
    "ptp/quorrin_pd/plat", "ptp/sardo/det",  "ptp/sardo/sum",  "ptp/sardo/unq",   "ptp/tessel/pkt",  nullptr};
const char *const ptp_show_jotlog_buffers_pkt[] = {"ptp/tessel/pkt", nullptr};
const char *const ptp_show_jotlog_buffers_no_pkt[] = {"ptp/tessel/det",
                                                      "ptp/tessel/sum",
                                                      "ptp/tessel/unq",
                                                      "ptp/quorrin/det",
                                                      "ptp/quorrin/sum",
                                                      "ptp/quorrin/unq",
                                                      "ptp/quorrin_pd/plat",
                                                      "ptp/sardo/det",
                                                      "ptp/sardo/sum",
                                                      "ptp/sardo/unq",
                                                      nullptr};

void ptp_show_jotlog_append(char **buf, size_t *size, const char *fmt, ...)
{
    if (buf == nullptr || *buf == nullptr || size == nullptr || *size == 0)
        return;
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(*buf, *size, fmt, ap);
    va_end(ap);
    if (n < 0)
        return;
    size_t used = static_cast<size_t>(n) < *size ? static_cast<size_t>(n) : *size - 1;
    *buf += used;
    *size -= used;
}

namespace {

constexpr std::array<const char *, 14> ql_opt1 = {"Opt-I/ePRTC", "Opt-I/PRTC",  "Opt-I/PRC",
                                                  "Opt-I/SSU-A", "Opt-I/SSU-B", "Opt-I/eEEC",
                                                  "Opt-I/EEC1",  "Opt-I/SEC",   "Opt-I/ePRC"};
constexpr std::array<const char *, 12> ql_opt2_1 = {
    "Opt-II,1/ePRTC", "Opt-II,1/PRTC", "Opt-II,1/PRS", "Opt-II,1/STU", "Opt-II,1/ST2", "Opt-II,1/ST3",
    "Opt-II,1/eEEC",  "Opt-II,1/EEC2", "Opt-II,1/SMC", "Opt-II,1/ST4", "Opt-II,1/RES", "Opt-II,1/ePRC"};
constexpr std::array<const char *, 14> ql_opt2_2 = {"Opt-II,2/ePRTC", "Opt-II,2/PRTC", "Opt-II,2/PRS",  "Opt-II,2/STU",
                                                    "Opt-II,2/ST2",   "Opt-II,2/TNC",  "Opt-II,2/ST3E", "Opt-II,2/ST3",
                                                    "Opt-II,2/eEEC",  "Opt-II,2/EEC2", "Opt-II,2/SMC",  "Opt-II,2/ST4",
                                                    "Opt-II,2/PROV",  "Opt-II,2/ePRC"};

} // namespace

const char *ptp_show_jotlog_ql_to_str(uint32_t packed)
{
    const uint32_t option = packed >> 16 & 0xff;
    const uint32_t value = packed & 0xff;
    if (option == 0)
        return "None";
    if (option > 3)
        return "Invalid";
    switch (value) {
    case 0: return "Invalid";
    case 1: return "DNU/DUS";
    case 2: return "Failed";
    case 3: return "None";
    default: break;
    }
    if (value >= 20 && value < 29)
        return ql_opt1[value - 20];
    if (value >= 40 && value < 52)
        return ql_opt2_1[value - 40];
    if (value >= 60 && value < 74)
        return ql_opt2_2[value - 60];
    return "Unknown QL";
}

const char *ptp_show_jotlog_ql_option_to_str(uint32_t option)
{
    switch (option) {
    case 1: return "Opt-1";
    case 2: return "Opt-II,1";
    case 3: return "Opt-II,2";
    default: return "Unknown QL option";
    }
}

namespace {

// One value a conversion of the format takes: a text, or a number printed as it stands (a
// floating-point one for "%f").
struct shown_value {
    const char *text; // null: a number
    uint64_t number;
    double real = 0;
};

// The record's argument i: 0 when the record carries fewer.
uint64_t arg_word(const jotlog_record_type *r, uint32_t i)
{
    return i < r->nargs && i < JOTLOG_MAX_ARGS ? r->args[i] : 0;
}

// The record's text i, or "" when the record does not carry it as a text: a word is never
// followed as a pointer.
const char *arg_text(const jotlog_record_type *r, uint32_t i)
{
    const char *t = jotlog_record_text(r, i);
    return t != nullptr ? t : "";
}

// The interface's name when the record was written (the tool's name map), else its display
// name, else its handle.
const char *ifhandle_name(uint32_t ifhandle, const jotlog_record_type *r, char *buf, size_t size)
{
    if (const char *at_time = im_name_from_timestamp(ifhandle, r->timestamp, buf, size); at_time != nullptr)
        return at_time;
    const char *name = imc_display_namestring(ifhandle, buf, size);
    if (std::strcmp(name, "<unknown>") != 0)
        return name;
    snprintf(buf, size, "%s", ptp_ifhandle_to_str(ifhandle));
    return buf;
}

const char *flag(uint64_t word, const char *set, const char *clear)
{
    return word != 0 ? set : clear;
}

const char *im_notify_kind_to_str(uint32_t kind)
{
    switch (kind) {
    case IMC_NOTIFY_ATTRIBUTES: return "attributes";
    case IMC_NOTIFY_REPLAY_DONE: return "replay done";
    default: return "unknown";
    }
}

// The shared library's upgrade helpers know one milestone by name, in their own spelling.
const char *util_issu_milestone_to_str(uint32_t milestone)
{
    return milestone == 2 ? "Sync V1 State via Chkpt" : "<Unknown ISSU milestone>";
}

struct value_list {
    std::array<shown_value, 2 * PTP_TRACE_MAX_ARGS> v;
    uint32_t n = 0;
    char scratch[2 * PTP_TRACE_MAX_ARGS][96];
    void number(uint64_t x) { v[n++] = {nullptr, x}; }
    void real(double x) { v[n++] = {nullptr, 0, x}; }
    void text(const char *t) { v[n++] = {t != nullptr ? t : "", 0}; }
    // A text of a formatter that keeps it in a buffer of its own, copied so that a second call
    // in the same line does not overwrite the first.
    void copy(const char *t)
    {
        char *b = buf();
        snprintf(b, sizeof scratch[0], "%s", t != nullptr ? t : "");
        text(b);
    }
    char *buf() { return scratch[n]; }
};

// The address of the group whose value word is argument i: an IPv6 address's value word is its
// text, which the record must carry as one.
const char *addr_text(const jotlog_record_type *r, uint32_t i, bool parts, char *buf, size_t size)
{
    const uint32_t encap = static_cast<uint32_t>(arg_word(r, i + 2));
    uint64_t value = arg_word(r, i);
    if (encap == PTP_TRACE_ADDR_ENCAP_IPV6)
        value = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(arg_text(r, i)));
    const char *whole = ptp_address_trace_to_str(encap, value, arg_word(r, i + 1));
    snprintf(buf, size, "%s", whole);
    (void)parts;
    return buf;
}

// The values a point's shown arguments give its format, in order.
void collect_values(const ptp_trace_point_type &point, const jotlog_record_type *r, uint32_t first, value_list &out)
{
    const uint32_t n = ptp_trace_point_nargs(point);
    uint32_t profile = 0;
    for (uint32_t i = first; i < n; ++i) {
        const uint64_t w = arg_word(r, i);
        const uint32_t w32 = static_cast<uint32_t>(w);
        switch (point.args[i]) {
        case PTP_TRACE_ARG_NONE:
        case PTP_TRACE_ARG_ADDR_WORD2:
        case PTP_TRACE_ARG_ADDR_ENCAP:
        case PTP_TRACE_ARG_CLOCK_ID_LOWER:
        case PTP_TRACE_ARG_UNSHOWN:
        case PTP_TRACE_ARG_ISSU_READY_KNOWN: break;
        case PTP_TRACE_ARG_UINT:
        case PTP_TRACE_ARG_INT: out.number(w); break;
        case PTP_TRACE_ARG_UINT32: out.number(w & 0xffffffffu); break;
        case PTP_TRACE_ARG_TEXT:
        case PTP_TRACE_ARG_IFNAME: out.text(arg_text(r, i)); break;
        case PTP_TRACE_ARG_ZERR: out.text(zerr_strerror(static_cast<zerrno>(w32))); break;
        case PTP_TRACE_ARG_IFHANDLE: {
            char *b = out.buf();
            out.text(ifhandle_name(w32, r, b, sizeof out.scratch[0]));
            break;
        }
        case PTP_TRACE_ARG_NODE_ID: {
            char *b = out.buf();
            snprintf(b, sizeof out.scratch[0], "%s", ptp_node_id_to_str(w32));
            out.text(b);
            break;
        }
        case PTP_TRACE_ARG_ISSU_ROLE: out.text(issul_issu_role_to_string(w32)); break;
        case PTP_TRACE_ARG_ISSU_MILESTONE:
            out.text(point.trace_class == PTP_TRACE_CLASS_UTIL ? util_issu_milestone_to_str(w32)
                                                               : tessel_issu_milestone_to_string(w32));
            break;
        case PTP_TRACE_ARG_ISSU_READY: {
            // Not known when the word before says so.
            const bool known = i == 0 || point.args[i - 1] != PTP_TRACE_ARG_ISSU_READY_KNOWN || arg_word(r, i - 1) != 0;
            out.text(!known ? "unknown" : flag(w, "yes", "no"));
            break;
        }
        case PTP_TRACE_ARG_PORT_STATE: out.text(ptp_port_state_to_str(w32)); break;
        case PTP_TRACE_ARG_MSG_TYPE: out.text(ptp_msg_type_to_str(w32)); break;
        case PTP_TRACE_ARG_PROFILE:
            profile = w32;
            out.text(ptp_profile_to_str(w32));
            break;
        case PTP_TRACE_ARG_MSG_FLAG: out.text(ptp_msg_flag_to_str(w32)); break;
        case PTP_TRACE_ARG_ADDR: {
            char *b = out.buf();
            out.text(addr_text(r, i, false, b, sizeof out.scratch[0]));
            break;
        }
        case PTP_TRACE_ARG_ADDR_PARTS: {
            // The encapsulation's name, then the bare address.
            const uint32_t encap = static_cast<uint32_t>(arg_word(r, i + 2));
            out.text(ptp_address_encap_to_str(encap));
            char *b = out.buf();
            const char *whole = addr_text(r, i, true, b, sizeof out.scratch[0]);
            const char *space = std::strchr(whole, ' ');
            out.text(space != nullptr && std::strncmp(whole, ptp_address_encap_to_str(encap), space - whole) == 0
                         ? space + 1
                         : whole);
            break;
        }
        case PTP_TRACE_ARG_CLOCK_ID: out.number(w << 32 | (arg_word(r, i + 1) & 0xffffffffu)); break;
        case PTP_TRACE_ARG_FLAG_NOT: out.text(flag(w, "", "not ")); break;
        case PTP_TRACE_ARG_FLAG_HAD: out.text(flag(w, "had", "didn't have")); break;
        case PTP_TRACE_ARG_FLAG_HAS: out.text(flag(w, "has", "doesn't have")); break;
        case PTP_TRACE_ARG_TLV_TYPE: out.text(tessel_tlv_type_to_string(static_cast<uint16_t>(w32))); break;
        case PTP_TRACE_ARG_ENCAP: out.text(ptp_address_encap_to_str(w32)); break;
        case PTP_TRACE_ARG_ENCAP_NAME_NUM:
            out.text(ptp_address_encap_to_str(w32));
            out.number(w);
            break;
        case PTP_TRACE_ARG_PKT_DIRECTION: out.text(flag(w, "O", "I")); break;
        case PTP_TRACE_ARG_GRANT_ACCEPT: out.text(flag(w, "accept", "deny")); break;
        case PTP_TRACE_ARG_FLAG_UN: out.text(flag(w, "", "un")); break;
        case PTP_TRACE_ARG_THREAD_MSG: out.text(tessel_thread_ctrl_msg_to_string(w32)); break;
        case PTP_TRACE_ARG_IM_NOTIFY_KIND: out.text(im_notify_kind_to_str(w32)); break;
        case PTP_TRACE_ARG_COMMS_EVENT: out.text(ptp_comms_event_to_str(static_cast<int32_t>(w32))); break;
        case PTP_TRACE_ARG_CHKPT_TABLE: out.text(ptp_chkpt_table_to_str(static_cast<int32_t>(w32))); break;
        case PTP_TRACE_ARG_FLAG_INIT_DONE: out.text(flag(w, "post-init", "initial")); break;
        case PTP_TRACE_ARG_GM_FREQ_TIME:
            out.text(flag(w & 1u, "yes", "no"));
            out.text(flag(w & 2u, "yes", "no"));
            break;
        case PTP_TRACE_ARG_QL: out.text(ptp_show_jotlog_ql_to_str(w32)); break;
        case PTP_TRACE_ARG_CFG_EVENT: out.text(ptp_cfg_event_to_str(w32)); break;
        case PTP_TRACE_ARG_TELECOM_CLOCK_TYPE: out.text(ptp_telecom_clock_type_to_str(w32, profile)); break;
        case PTP_TRACE_ARG_QL_OPTION: out.text(ptp_show_jotlog_ql_option_to_str(w32)); break;
        case PTP_TRACE_ARG_INTEROP_DIRECTION: out.text(flag(w, "egress", "ingress")); break;
        case PTP_TRACE_ARG_FLAG_CREATED: out.text(flag(w, "Created", "Updated")); break;
        case PTP_TRACE_ARG_FLAG_VIRTUAL: out.text(flag(w, "virtual ", "")); break;
        case PTP_TRACE_ARG_CLOCK_OPERATION: out.text(flag(w, "One-step", "Two-step")); break;
        case PTP_TRACE_ARG_RESTRICT_PORT_STATE: out.text(ptp_restrict_port_state_to_str(w32)); break;
        case PTP_TRACE_ARG_DELAY_ASYMMETRY: out.copy(ptp_delay_asymmetry_to_str(static_cast<int32_t>(w32))); break;
        case PTP_TRACE_ARG_REDUCE_DENY: out.text(flag(w, "Deny", "Reduce")); break;
        case PTP_TRACE_ARG_TRANSPORT_CHANGE: out.copy(ptp_transport_change_to_str(w32 & 0xfu)); break;
        case PTP_TRACE_ARG_QOS_UPDATE: out.text(tessel_cfg_update_qos_to_string(w32)); break;
        case PTP_TRACE_ARG_OPT_VALUES4:
            for (uint32_t k = 0; k < 4; ++k) {
                out.text(flag(w >> (32 + k) & 1u, "", "Not set "));
                out.number(w >> (8 * k) & 0xffu);
            }
            break;
        case PTP_TRACE_ARG_LEAP_OFFSET:
            // As the controller's own debug line prints it ("%u" of the signed offset).
            out.number(static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(w & 0xffffu))));
            out.real(static_cast<double>(w >> 16 & 0xffffffffffull));
            out.text(flag(w >> 63, "", " (Not Set)"));
            break;
        }
    }
}

// Applies a table format to the values. Each conversion is parsed against a fixed set of flags,
// width, precision, length and conversion characters and rebuilt before it reaches snprintf; a
// conversion we do not know, and a lone trailing '%', print as they stand.
void apply_format(const char *format, const value_list &values, char **buf, size_t *size)
{
    uint32_t next = 0;
    for (const char *p = format; *p != '\0' && *size > 1;) {
        if (*p != '%') {
            const char *end = std::strchr(p, '%');
            const size_t len = end != nullptr ? static_cast<size_t>(end - p) : std::strlen(p);
            ptp_show_jotlog_append(buf, size, "%.*s", static_cast<int>(len), p);
            p += len;
            continue;
        }
        if (p[1] == '%') {
            ptp_show_jotlog_append(buf, size, "%%");
            p += 2;
            continue;
        }
        const char *q = p + 1;
        char conversion[32] = "%";
        size_t s = 1;
        while (*q != '\0' && std::strchr("-+ #0", *q) != nullptr && s < 8)
            conversion[s++] = *q++;
        int width_digits = 0;
        while (*q >= '0' && *q <= '9' && width_digits < 3) {
            conversion[s++] = *q++;
            ++width_digits;
        }
        if (*q == '.') {
            conversion[s++] = *q++;
            int precision_digits = 0;
            while (*q >= '0' && *q <= '9' && precision_digits < 3) {
                conversion[s++] = *q++;
                ++precision_digits;
            }
        }
        while (*q == 'l' || *q == 'h' || *q == 'z')
            ++q;
        const char conv = *q;
        if (conv == '\0' || std::strchr("diuxXsf", conv) == nullptr) {
            // Not a conversion we apply: its text as it stands.
            ptp_show_jotlog_append(buf, size, "%.*s", static_cast<int>(q - p + (conv != '\0')), p);
            p = q + (conv != '\0');
            continue;
        }
        const shown_value v = next < values.n ? values.v[next] : shown_value{nullptr, 0};
        ++next;
        if (conv == 'f' && v.text == nullptr) {
            conversion[s++] = 'f';
            conversion[s] = '\0';
            char piece[512];
            snprintf(piece, sizeof piece, conversion, v.real);
            ptp_show_jotlog_append(buf, size, "%s", piece);
        } else if (conv == 's' || v.text != nullptr) {
            // A text conversion always prints a text: a number where the table has a text prints
            // in decimal, so no word is ever read as a pointer.
            char number[24];
            const char *text = v.text;
            if (text == nullptr) {
                snprintf(number, sizeof number, "%lu", static_cast<unsigned long>(v.number));
                text = number;
            }
            conversion[s++] = 's';
            conversion[s] = '\0';
            char piece[512];
            snprintf(piece, sizeof piece, conversion, text);
            ptp_show_jotlog_append(buf, size, "%s", piece);
        } else {
            conversion[s++] = 'l';
            conversion[s++] = conv;
            conversion[s] = '\0';
            char piece[512];
            if (conv == 'd' || conv == 'i')
                snprintf(piece, sizeof piece, conversion, static_cast<long>(v.number));
            else
                snprintf(piece, sizeof piece, conversion, static_cast<unsigned long>(v.number));
            ptp_show_jotlog_append(buf, size, "%s", piece);
        }
        p = q + 1;
    }
}

// Writes a point's record: the prefix, the interface (and port state) it concerns, its text.
int decode_point(const ptp_trace_point_type *point, const char *prefix, const jotlog_record_type *r, char *buf,
                 size_t size)
{
    if (point == nullptr || point->format == nullptr || buf == nullptr || size == 0)
        return -1;
    buf[0] = '\0';
    char *pos = buf;
    size_t left = size;
    ptp_show_jotlog_append(&pos, &left, "%s", prefix);
    const uint32_t lead = ptp_trace_point_lead_args(*point);
    if (lead >= 1) {
        if (point->args[0] == PTP_TRACE_ARG_IFNAME) {
            ptp_show_jotlog_append(&pos, &left, "%s: ", arg_text(r, 0));
        } else if (const uint32_t ifh = static_cast<uint32_t>(arg_word(r, 0)); ifh != 0) {
            char name[96];
            ptp_show_jotlog_append(&pos, &left, "%s: ", ifhandle_name(ifh, r, name, sizeof name));
        }
    }
    if (lead >= 2)
        ptp_show_jotlog_append(&pos, &left, "%s: ", ptp_port_state_to_str(static_cast<uint32_t>(arg_word(r, 1))));
    value_list values;
    collect_values(*point, r, lead, values);
    apply_format(point->format, values, &pos, &left);
    return 0;
}

const char *tessel_prefix(uint32_t number)
{
    static constexpr const char *names[] = {"[Main] ",        "[Unknown] ",  "[Database] ", "[IM] ",  "[Config] ",
                                            "[Thread-Ctrl] ", "[Port-Mgr] ", "[BMC] ",      "[FSM] ", "[Packet] ",
                                            "[Comms] ",       "[Offload] ",  "[FIB] ",      "[Adj] ", "[ISSU] ",
                                            "[Port Num] ",    "[Stats] "};
    const uint32_t group = number / 200;
    return group < std::size(names) ? names[group] : "[Unknown] ";
}

// "[%s] " with the module of a class whose modules are a hundred numbers each.
void hundreds_prefix(uint32_t number, const char *const *names, size_t count, char *out, size_t size)
{
    const uint32_t group = number / 100;
    snprintf(out, size, "[%s] ", group < count ? names[group] : "Unknown");
}

} // namespace

int ptp_show_jotlog_decode_tessel(const jotlog_record_type *record, uint32_t number, char *buf, size_t size)
{
    return decode_point(ptp_trace_point_find(PTP_TRACE_CLASS_TESSEL | (number & PTP_TRACE_NUMBER_MASK)),
                        tessel_prefix(number), record, buf, size);
}

int ptp_show_jotlog_decode_quorrin(const jotlog_record_type *record, uint32_t number, char *buf, size_t size)
{
    static constexpr const char *names[] = {"Main", "Comms", "Platform", "Config", "BMC", "Port Num", "Leap Seconds"};
    char prefix[32];
    hundreds_prefix(number, names, std::size(names), prefix, sizeof prefix);
    return decode_point(ptp_trace_point_find(PTP_TRACE_CLASS_QUORRIN | (number & PTP_TRACE_NUMBER_MASK)), prefix,
                        record, buf, size);
}

int ptp_show_jotlog_decode_util(const jotlog_record_type *record, uint32_t number, char *buf, size_t size)
{
    static constexpr const char *names[] = {"Utils", "Timer", "ISSU"};
    char prefix[32];
    hundreds_prefix(number, names, std::size(names), prefix, sizeof prefix);
    return decode_point(ptp_trace_point_find(PTP_TRACE_CLASS_UTIL | (number & PTP_TRACE_NUMBER_MASK)), prefix, record,
                        buf, size);
}

int ptp_show_jotlog_decode_sardo(const jotlog_record_type *record, uint32_t number, char *buf, size_t size)
{
    static constexpr const char *names[] = {"Main", "Platform", "Config"};
    char prefix[32];
    hundreds_prefix(number, names, std::size(names), prefix, sizeof prefix);
    return decode_point(ptp_trace_point_find(PTP_TRACE_CLASS_SARDO | (number & PTP_TRACE_NUMBER_MASK)), prefix, record,
                        buf, size);
}

int ptp_show_jotlog_decode(const jotlog_record_type *record, uint64_t context, char *buf, size_t size)
{
    (void)context;
    if (record == nullptr)
        return -1;
    const uint32_t id = static_cast<uint32_t>(record->id);
    const uint32_t number = id & PTP_TRACE_NUMBER_MASK;
    switch (id & PTP_TRACE_CLASS_MASK) {
    case PTP_TRACE_CLASS_TESSEL: return ptp_show_jotlog_decode_tessel(record, number, buf, size);
    case PTP_TRACE_CLASS_QUORRIN: return ptp_show_jotlog_decode_quorrin(record, number, buf, size);
    case PTP_TRACE_CLASS_UTIL: return ptp_show_jotlog_decode_util(record, number, buf, size);
    case PTP_TRACE_CLASS_SARDO: return ptp_show_jotlog_decode_sardo(record, number, buf, size);
    default: return -1;
    }
}

int ptp_show_jotlog_main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    bool pkt_only = false;
    bool no_pkt = false;
    opterr = 0;
    optind = 1;
    int c;
    while ((c = getopt(argc, argv, "ABi")) != -1) {
        if (c == 'A')
            pkt_only = true;
        else if (c == 'B')
            no_pkt = true;
    }
    if (pkt_only && no_pkt) {
        std::fprintf(stderr,
                     "ptp_show_jotlog: -A (packet trace only) and -B (no packet trace) cannot be used together\n");
        return 2;
    }
    const char *const *buffers = pkt_only ? ptp_show_jotlog_buffers_pkt
                                 : no_pkt ? ptp_show_jotlog_buffers_no_pkt
                                          : ptp_show_jotlog_buffers;
    // Interface handles in the records shown by the names they had: without the interface
    // manager they show as handles.
    const imc_bind_params_type params = {9, 1};
    imc_ctx_type *ctx = nullptr;
    if (imc_control_server_bind(&params, 1, &ctx) == 0)
        im_build_name_timestamp_map(ctx);
    const int status = jotlog_show(argc, argv, "ABi", 0, ptp_show_jotlog_decode, buffers);
    im_cleanup_name_timestamp_map();
    if (ctx != nullptr)
        imc_control_server_unbind(ctx);
    return status;
}
