// Trace points: the id scheme shared by every PTP process, the form in which trace points are
// kept as data (ptp_trace_points.h), and the one call that writes a point into a trace buffer.
//
// A trace id is 64 bits:
//   low word:  bits 0-19 the point's number, bits 20-31 its class (the process kind that owns
//              the point: PTP_TRACE_CLASS_*);
//   high word: bits 0-7 the number of 64-bit arguments; from bit 8 up one flag per argument that
//              the record stores as text (bit 8 the first argument, bit 9 the second, ...);
//              records that carry a peer address add its address-format word from bit 40
//              (bit 8 of the high word) up, see ptp_jotlog_addr_fmt_get.
// Every id is derived from a point's definition (ptp_trace_point_id), never written by hand, so
// the emitters and the trace display tool cannot disagree on it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <type_traits>

#include "jotlog.h"

using ptp_trace_id = uint64_t;

inline constexpr uint32_t PTP_TRACE_CLASS_TESSEL = 0x100000;
inline constexpr uint32_t PTP_TRACE_CLASS_QUORRIN = 0x200000;
inline constexpr uint32_t PTP_TRACE_CLASS_UTIL = 0x800000;
inline constexpr uint32_t PTP_TRACE_CLASS_SARDO = 0x1000000;

inline constexpr uint32_t PTP_TRACE_CLASS_MASK = 0xfff00000;
inline constexpr uint32_t PTP_TRACE_NUMBER_MASK = 0x000fffff;
inline constexpr uint32_t PTP_TRACE_MAX_ARGS = 8;

// How the display tool turns one argument word into text. Only PTP_TRACE_ARG_TEXT changes what
// is recorded (the writer copies the text); the others are words recorded as they stand.
enum ptp_trace_arg_kind : uint8_t {
    PTP_TRACE_ARG_NONE = 0,
    PTP_TRACE_ARG_UINT,           // printed as it stands ("%lu", "%lx", ...)
    PTP_TRACE_ARG_INT,            // a signed value ("%ld", "%d")
    PTP_TRACE_ARG_TEXT,           // a text stored in the record ("%s")
    PTP_TRACE_ARG_ZERR,           // a zerrno, printed as its error text ("%s")
    PTP_TRACE_ARG_IFHANDLE,       // an interface handle, printed as its name ("%s")
    PTP_TRACE_ARG_NODE_ID,        // a node id, printed as its name ("%s")
    PTP_TRACE_ARG_ISSU_ROLE,      // an upgrade role, printed as the platform's role name ("%s")
    PTP_TRACE_ARG_ISSU_MILESTONE, // an upgrade milestone, printed as its name ("%s")
    PTP_TRACE_ARG_ISSU_READY,     // a ready flag: "yes", "no" or "unknown" ("%s")
    PTP_TRACE_ARG_PORT_STATE,     // a port state, printed as its name ("%s")
    PTP_TRACE_ARG_MSG_TYPE,       // a PTP message type, printed as its name ("%s")
    PTP_TRACE_ARG_PROFILE,        // a clock profile, printed as its name ("%s")
    PTP_TRACE_ARG_MSG_FLAG,       // a PTP header flag, printed as its name ("%s")
    // An address takes three words, value word, second word and encapsulation (the words of
    // ptp_address_trace_value / ptp_address_trace_mac_low), and one "%s" (ptp_address_trace_to_str).
    PTP_TRACE_ARG_ADDR,
    PTP_TRACE_ARG_ADDR_WORD2,
    PTP_TRACE_ARG_ADDR_ENCAP,
    // A clock identity takes two words, upper and lower half, and one "%lx".
    PTP_TRACE_ARG_CLOCK_ID,
    PTP_TRACE_ARG_CLOCK_ID_LOWER,
    PTP_TRACE_ARG_UNSHOWN,          // recorded, but the point's text shows no value for it
    PTP_TRACE_ARG_IFNAME,           // an interface name recorded as text, shown like a leading handle
    PTP_TRACE_ARG_ISSU_READY_KNOWN, // unshown: 0 when the ready flag after it is not known
    PTP_TRACE_ARG_FLAG_NOT,         // a flag: "" when set, "not " when clear ("%s")
    PTP_TRACE_ARG_FLAG_HAD,         // a flag: "had" or "didn't have" ("%s")
    PTP_TRACE_ARG_FLAG_HAS,         // a flag: "has" or "doesn't have" ("%s")
    PTP_TRACE_ARG_TLV_TYPE,         // a TLV type, printed as its name ("%s")
    PTP_TRACE_ARG_ENCAP,            // an encapsulation, printed as its name ("%s")
    PTP_TRACE_ARG_ENCAP_NAME_NUM,   // an encapsulation, printed as its name and its number ("%s (%lu)")
    PTP_TRACE_ARG_PKT_DIRECTION,    // a packet direction: "O" out (1), "I" in (0) ("%s")
    PTP_TRACE_ARG_GRANT_ACCEPT,     // a grant's outcome: "accept" when set, "deny" when clear ("%s")
    // The value word of an address group shown in two parts, its encapsulation's name and the
    // bare address ("%s %s"); the group's other two words follow as for PTP_TRACE_ARG_ADDR.
    PTP_TRACE_ARG_ADDR_PARTS,
    PTP_TRACE_ARG_FLAG_UN,        // a flag: "" when set, "un" when clear ("%s")
    PTP_TRACE_ARG_THREAD_MSG,     // an inter-thread message type, printed as its name ("%s")
    PTP_TRACE_ARG_IM_NOTIFY_KIND, // an interface-manager notification kind, printed as the manager's name ("%s")
    PTP_TRACE_ARG_COMMS_EVENT,    // a group-messaging notification event, printed as its name ("%s")
    PTP_TRACE_ARG_CHKPT_TABLE,    // a controller checkpoint table id, printed as the table's name ("%s")
    PTP_TRACE_ARG_FLAG_INIT_DONE, // the initialisation-done flag: "post-init" when set, "initial" when clear ("%s")
    // A grandmaster's has-frequency (bit 0) and has-time (bit 1) flags in one word, each shown as
    // "yes" or "no" ("%s, ... %s"): a slave update carries more values than a record holds words.
    PTP_TRACE_ARG_GM_FREQ_TIME,
    PTP_TRACE_ARG_QL,        // a quality level: option in bits 16-23, value in bits 0-7, printed as its name ("%s")
    PTP_TRACE_ARG_CFG_EVENT, // configuration event bits: "Create", "Set" or "Delete" ("%s")
    PTP_TRACE_ARG_TELECOM_CLOCK_TYPE,  // a telecom clock type, printed as its name ("%s")
    PTP_TRACE_ARG_QL_OPTION,           // a frequency-synchronisation QL option: "Opt-1", ... ("%s")
    PTP_TRACE_ARG_INTEROP_DIRECTION,   // 0 "ingress", 1 "egress" ("%s")
    PTP_TRACE_ARG_FLAG_CREATED,        // a flag: "Created" when set, "Updated" when clear ("%s")
    PTP_TRACE_ARG_FLAG_VIRTUAL,        // a flag: "virtual " when set, "" when clear ("%s")
    PTP_TRACE_ARG_UINT32,              // the low 32 bits of the word, as it stands ("%08lx": packet bytes)
    PTP_TRACE_ARG_CLOCK_OPERATION,     // a clock operation: "One-step" when set, "Two-step" when clear ("%s")
    PTP_TRACE_ARG_RESTRICT_PORT_STATE, // a configured port-state restriction, printed as its name ("%s")
    PTP_TRACE_ARG_DELAY_ASYMMETRY,     // a delay asymmetry in signed nanoseconds, printed with its unit ("%s")
    PTP_TRACE_ARG_REDUCE_DENY,         // the invalid-grant setting: "Deny" when set, "Reduce" when clear ("%s")
    PTP_TRACE_ARG_TRANSPORT_CHANGE, // an old and new transport in the four bits of ptp_transport_change_encode ("%s")
    PTP_TRACE_ARG_QOS_UPDATE,       // a QoS update class (0 plain, 1 general, 2 event), printed as its name ("%s")
    // Four optional 8-bit values in one word: byte i the value, bit 32 + i set when it is set;
    // each shown as "Not set " or "" and the value ("%s%lu" four times): a master-table change
    // carries more values than a record holds words (ptp_trace_opt_value_pack).
    PTP_TRACE_ARG_OPT_VALUES4,
    // A UTC offset and its date in one word (ptp_trace_leap_offset_pack): the signed offset in
    // bits 0-15, the date in seconds since the epoch in bits 16-55, bit 63 set when it is set;
    // shown as the offset, the date and "" or " (Not Set)" ("%lu(%f)%s").
    PTP_TRACE_ARG_LEAP_OFFSET,
};

// Value i (0-3) of a PTP_TRACE_ARG_OPT_VALUES4 word; the word is the four ORed together.
constexpr uint64_t ptp_trace_opt_value_pack(uint32_t i, uint8_t value, bool set)
{
    return static_cast<uint64_t>(value) << (8 * (i & 3)) | static_cast<uint64_t>(set ? 1 : 0) << (32 + (i & 3));
}

// The word of PTP_TRACE_ARG_LEAP_OFFSET; a date beyond 40 bits keeps its low 40 bits.
constexpr uint64_t ptp_trace_leap_offset_pack(int16_t offset, uint64_t date, bool set)
{
    return static_cast<uint64_t>(static_cast<uint16_t>(offset)) | (date & 0xffffffffffull) << 16 |
           static_cast<uint64_t>(set ? 1 : 0) << 63;
}

// The kinds whose word the writer records as a text (bit i of the record's text mask).
constexpr bool ptp_trace_arg_is_text(ptp_trace_arg_kind kind)
{
    return kind == PTP_TRACE_ARG_TEXT || kind == PTP_TRACE_ARG_IFNAME;
}

// Leading arguments: a point whose first argument is an interface handle (or an interface name
// recorded as text) is shown with the interface's name and ": " before its text (nothing for
// handle 0), and when the second is a port state, with the state's name and ": " as well. The
// format holds the text after that; its placeholders take the other shown arguments in order,
// each as many placeholders as ptp_trace_arg_conversions gives. A point with no format (nullptr)
// has no text: the display tool leaves its records undecoded.
constexpr uint32_t ptp_trace_arg_conversions(ptp_trace_arg_kind kind)
{
    switch (kind) {
    case PTP_TRACE_ARG_ADDR_WORD2:
    case PTP_TRACE_ARG_ADDR_ENCAP:
    case PTP_TRACE_ARG_CLOCK_ID_LOWER:
    case PTP_TRACE_ARG_UNSHOWN:
    case PTP_TRACE_ARG_ISSU_READY_KNOWN: return 0;
    case PTP_TRACE_ARG_ENCAP_NAME_NUM:
    case PTP_TRACE_ARG_ADDR_PARTS:
    case PTP_TRACE_ARG_GM_FREQ_TIME: return 2;
    case PTP_TRACE_ARG_LEAP_OFFSET: return 3;
    case PTP_TRACE_ARG_OPT_VALUES4: return 8;
    default: return 1;
    }
}
constexpr bool ptp_trace_arg_shown(ptp_trace_arg_kind kind)
{
    return ptp_trace_arg_conversions(kind) != 0;
}

// One trace point, as data: its class and number, the text the display tool prints, and the
// kind of each argument (the count is the number of kinds before the first NONE).
struct ptp_trace_point_type {
    uint32_t trace_class;
    uint32_t number;
    const char *format;
    std::array<ptp_trace_arg_kind, PTP_TRACE_MAX_ARGS> args;
};

constexpr uint32_t ptp_trace_point_nargs(const ptp_trace_point_type &point)
{
    uint32_t n = 0;
    while (n < PTP_TRACE_MAX_ARGS && point.args[n] != PTP_TRACE_ARG_NONE)
        ++n;
    return n;
}

// Bit i set: argument i is recorded as text.
constexpr uint32_t ptp_trace_point_text_mask(const ptp_trace_point_type &point)
{
    uint32_t mask = 0;
    for (uint32_t i = 0; i < ptp_trace_point_nargs(point); ++i)
        if (ptp_trace_arg_is_text(point.args[i]))
            mask |= 1u << i;
    return mask;
}

constexpr ptp_trace_id ptp_trace_point_id(const ptp_trace_point_type &point)
{
    const uint64_t high = ptp_trace_point_nargs(point) | ptp_trace_point_text_mask(point) << 8;
    return high << 32 | (point.trace_class & PTP_TRACE_CLASS_MASK) | (point.number & PTP_TRACE_NUMBER_MASK);
}

// The id of point P, for tables of ids and wrappers that take an id.
template <const ptp_trace_point_type &P>
inline constexpr ptp_trace_id ptp_trace_id_of = ptp_trace_point_id(P);

// Position of the first argument of the given kind, or PTP_TRACE_MAX_ARGS when there is none
// (the address-format row of a point that carries an address).
constexpr uint32_t ptp_trace_point_arg_pos(const ptp_trace_point_type &point, ptp_trace_arg_kind kind)
{
    for (uint32_t i = 0; i < ptp_trace_point_nargs(point); ++i)
        if (point.args[i] == kind)
            return i;
    return PTP_TRACE_MAX_ARGS;
}

// Position of the value word of the point's address group (PTP_TRACE_ARG_ADDR or
// PTP_TRACE_ARG_ADDR_PARTS), or PTP_TRACE_MAX_ARGS when it carries none.
constexpr uint32_t ptp_trace_point_addr_pos(const ptp_trace_point_type &point)
{
    const uint32_t pos = ptp_trace_point_arg_pos(point, PTP_TRACE_ARG_ADDR);
    return pos != PTP_TRACE_MAX_ARGS ? pos : ptp_trace_point_arg_pos(point, PTP_TRACE_ARG_ADDR_PARTS);
}

// True when the point's address group, if any, is whole: value word, second word, encapsulation.
constexpr bool ptp_trace_point_addr_ok(const ptp_trace_point_type &point)
{
    const uint32_t pos = ptp_trace_point_addr_pos(point);
    return pos == PTP_TRACE_MAX_ARGS ||
           (pos + 2 < ptp_trace_point_nargs(point) && point.args[pos + 1] == PTP_TRACE_ARG_ADDR_WORD2 &&
            point.args[pos + 2] == PTP_TRACE_ARG_ADDR_ENCAP);
}

// The arguments shown before the text (see Leading arguments above).
constexpr uint32_t ptp_trace_point_lead_args(const ptp_trace_point_type &point)
{
    if (point.args[0] != PTP_TRACE_ARG_IFHANDLE && point.args[0] != PTP_TRACE_ARG_IFNAME)
        return 0;
    return point.args[1] == PTP_TRACE_ARG_PORT_STATE ? 2 : 1;
}

// Conversions in a format ("%%" prints a percent sign and takes no argument).
constexpr uint32_t ptp_trace_format_conversions(const char *format)
{
    uint32_t n = 0;
    for (const char *p = format; *p != '\0'; ++p) {
        if (*p != '%')
            continue;
        if (p[1] == '%') {
            ++p;
            continue;
        }
        if (p[1] != '\0')
            ++n;
    }
    return n;
}

// True when the point's text has the placeholders of the shown arguments after the lead.
constexpr bool ptp_trace_point_format_ok(const ptp_trace_point_type &point)
{
    if (point.format == nullptr)
        return true;
    uint32_t shown = 0;
    for (uint32_t i = ptp_trace_point_lead_args(point); i < ptp_trace_point_nargs(point); ++i)
        shown += ptp_trace_arg_conversions(point.args[i]);
    return ptp_trace_format_conversions(point.format) == shown;
}

// True when conversion k (0-based) of a shown argument of this kind prints a number; the others
// print a text ("%s").
constexpr bool ptp_trace_arg_conversion_numeric(ptp_trace_arg_kind kind, uint32_t k)
{
    switch (kind) {
    case PTP_TRACE_ARG_UINT:
    case PTP_TRACE_ARG_UINT32:
    case PTP_TRACE_ARG_INT:
    case PTP_TRACE_ARG_CLOCK_ID: return true;
    case PTP_TRACE_ARG_ENCAP_NAME_NUM: return k == 1;
    case PTP_TRACE_ARG_OPT_VALUES4: return k % 2 == 1;
    case PTP_TRACE_ARG_LEAP_OFFSET: return k == 0;
    default: return false;
    }
}

// True when conversion k of a shown argument of this kind prints a floating-point number ("%f").
constexpr bool ptp_trace_arg_conversion_float(ptp_trace_arg_kind kind, uint32_t k)
{
    return kind == PTP_TRACE_ARG_LEAP_OFFSET && k == 1;
}

// True when every placeholder of the point's text is one the display tool applies ("%s", or
// "d", "i", "u", "x", "X", "f" with flags, width, precision and length) and of the kind of the
// argument it takes: a text where the argument prints as a text, a number where it prints as
// one, a floating-point number where it prints as one. A lone trailing '%' prints as it stands
// and takes no argument.
constexpr bool ptp_trace_point_kinds_ok(const ptp_trace_point_type &point)
{
    if (point.format == nullptr)
        return true;
    uint32_t arg = ptp_trace_point_lead_args(point);
    uint32_t k = 0;
    const uint32_t nargs = ptp_trace_point_nargs(point);
    for (const char *p = point.format; *p != '\0'; ++p) {
        if (*p != '%')
            continue;
        if (p[1] == '%') {
            ++p;
            continue;
        }
        if (p[1] == '\0')
            break;
        const char *q = p + 1;
        while (*q == '-' || *q == '+' || *q == ' ' || *q == '#' || *q == '0' || (*q >= '1' && *q <= '9') || *q == '.' ||
               *q == 'l' || *q == 'h' || *q == 'z')
            ++q;
        const char conv = *q;
        const bool numeric = conv == 'd' || conv == 'i' || conv == 'u' || conv == 'x' || conv == 'X';
        const bool floating = conv == 'f';
        if (!numeric && !floating && conv != 's')
            return false;
        while (arg < nargs && k >= ptp_trace_arg_conversions(point.args[arg])) {
            ++arg;
            k = 0;
        }
        if (arg >= nargs || numeric != ptp_trace_arg_conversion_numeric(point.args[arg], k) ||
            floating != ptp_trace_arg_conversion_float(point.args[arg], k))
            return false;
        ++k;
        p = q;
    }
    return true;
}

// The parts of an id, as the display tool reads them.
constexpr uint32_t ptp_trace_id_class(ptp_trace_id id)
{
    return static_cast<uint32_t>(id) & PTP_TRACE_CLASS_MASK;
}
constexpr uint32_t ptp_trace_id_number(ptp_trace_id id)
{
    return static_cast<uint32_t>(id) & PTP_TRACE_NUMBER_MASK;
}
constexpr uint32_t ptp_trace_id_nargs(ptp_trace_id id)
{
    return static_cast<uint32_t>(id >> 32) & 0xff;
}

// Address-format word of a traced ptp_address_type: row = argument position used for the
// address, encap = its encapsulation (0 unknown or no address, 1 Ethernet, 2 IPv4, 3 IPv6). The
// caller ORs the word, shifted left by 40, into the trace id. Out-of-range rows or encapsulations
// give 0.
inline constexpr uint32_t PTP_TRACE_ADDR_FMT_ROWS = 7;
inline constexpr std::array<std::array<uint32_t, 4>, PTP_TRACE_ADDR_FMT_ROWS> ptp_trace_addr_fmt_table = {{
    {0x0, 0x0, 0x200, 0x2},
    {0x0, 0x0, 0x400, 0x4},
    {0x0, 0x0, 0x800, 0x8},
    {0x2, 0x2, 0xA02, 0xA},
    {0x0, 0x0, 0x1000, 0x10},
    {0x0, 0x0, 0x2000, 0x20},
    {0x0, 0x0, 0x2400, 0x24},
}};
constexpr uint32_t ptp_jotlog_addr_fmt_get(uint32_t row, uint32_t encap)
{
    return row < PTP_TRACE_ADDR_FMT_ROWS && encap < 4 ? ptp_trace_addr_fmt_table[row][encap] : 0;
}
inline constexpr uint32_t PTP_TRACE_ADDR_FMT_SHIFT = 40;
// The encapsulation word of an IPv6 address: its value word is a text.
inline constexpr uint32_t PTP_TRACE_ADDR_ENCAP_IPV6 = 3;

// ---- Writing ------------------------------------------------------------------------------

namespace ptp_trace_detail {

template <typename T>
constexpr bool word_ok(ptp_trace_arg_kind kind)
{
    if (ptp_trace_arg_is_text(kind))
        return std::is_same_v<T, const char *> || std::is_same_v<T, char *>;
    return std::is_integral_v<T> || std::is_enum_v<T>;
}

template <const ptp_trace_point_type &P, typename... A>
constexpr bool args_ok()
{
    if (sizeof...(A) != ptp_trace_point_nargs(P))
        return false;
    uint32_t i = 0;
    return (word_ok<A>(P.args[i++]) && ... && true);
}

inline uint64_t word(const char *text)
{
    return jotlog_text_arg(text);
}
inline uint64_t word(char *text)
{
    return jotlog_text_arg(text);
}
template <typename T>
inline uint64_t word(T value)
{
    if constexpr (std::is_enum_v<T>)
        return static_cast<uint64_t>(static_cast<std::underlying_type_t<T>>(value));
    else
        return static_cast<uint64_t>(value);
}

} // namespace ptp_trace_detail

// Writes point P with the given arguments into each handle that is not null (a process that has
// not opened or published its buffers simply records nothing). The arguments are checked against
// the point's definition at compile time: the count must match, a text argument must be a
// character pointer and every other argument an integer or an enum.
template <const ptp_trace_point_type &P, typename... A>
inline void ptp_trace(std::initializer_list<jotlog_handle_type> handles, A... args)
{
    static_assert(ptp_trace_detail::args_ok<P, A...>(), "trace arguments differ from the trace point's definition");
    constexpr ptp_trace_id id = ptp_trace_point_id(P);
    constexpr uint32_t text_mask = ptp_trace_point_text_mask(P);
    const uint64_t words[sizeof...(A) + 1] = {ptp_trace_detail::word(args)..., 0};
    for (jotlog_handle_type handle : handles)
        if (handle != nullptr)
            _jotlog(handle, id, text_mask, words, sizeof...(A));
}

// The same for a point that carries a peer address: addr_fmt is the address-format word of
// ptp_jotlog_addr_fmt_get, ORed into the id from bit 40 up. It only tells the display tool how
// the address words read; which arguments are texts still comes from the point's definition.
template <const ptp_trace_point_type &P, typename... A>
inline void ptp_trace_addr(std::initializer_list<jotlog_handle_type> handles, uint32_t addr_fmt, A... args)
{
    static_assert(ptp_trace_detail::args_ok<P, A...>(), "trace arguments differ from the trace point's definition");
    const ptp_trace_id id = ptp_trace_point_id(P) | static_cast<uint64_t>(addr_fmt) << PTP_TRACE_ADDR_FMT_SHIFT;
    constexpr uint32_t text_mask = ptp_trace_point_text_mask(P);
    const uint64_t words[sizeof...(A) + 1] = {ptp_trace_detail::word(args)..., 0};
    for (jotlog_handle_type handle : handles)
        if (handle != nullptr)
            _jotlog(handle, id, text_mask, words, sizeof...(A));
}

// The same for a point whose arguments include an address group in trace form (the words of
// ptp_address_trace_value, ptp_address_trace_mac_low and ptp_address_encap_get, in that order):
// the address-format word of its position and encapsulation goes into the id, and the value word
// of an IPv6 address, which is its text, is recorded as text since the reader is another process.
template <const ptp_trace_point_type &P, typename... A>
inline jotlog_entry_type ptp_trace_address_entry(A... args);

template <const ptp_trace_point_type &P, typename... A>
inline void ptp_trace_address(std::initializer_list<jotlog_handle_type> handles, A... args)
{
    const jotlog_entry_type e = ptp_trace_address_entry<P>(args...);
    for (jotlog_handle_type handle : handles)
        if (handle != nullptr)
            _jotlog(handle, e.id, e.text_mask, e.args, e.nargs);
}

// The records of one event (a message and its bytes) as a group: each built as ptp_trace or
// ptp_trace_address would write it (checked the same way), then written together into one buffer
// (null: nothing) by ptp_trace_group, one lock and one timestamp for all.
template <const ptp_trace_point_type &P, typename... A>
inline jotlog_entry_type ptp_trace_entry(A... args)
{
    static_assert(ptp_trace_detail::args_ok<P, A...>(), "trace arguments differ from the trace point's definition");
    static_assert(sizeof...(A) <= JOTLOG_MAX_ARGS);
    return {ptp_trace_point_id(P),
            ptp_trace_point_text_mask(P),
            static_cast<uint32_t>(sizeof...(A)),
            {ptp_trace_detail::word(args)...}};
}

template <const ptp_trace_point_type &P, typename... A>
inline jotlog_entry_type ptp_trace_address_entry(A... args)
{
    static_assert(ptp_trace_detail::args_ok<P, A...>(), "trace arguments differ from the trace point's definition");
    static_assert(sizeof...(A) <= JOTLOG_MAX_ARGS);
    constexpr uint32_t pos = ptp_trace_point_addr_pos(P);
    static_assert(pos != PTP_TRACE_MAX_ARGS && ptp_trace_point_addr_ok(P), "the trace point carries no address");
    jotlog_entry_type e{ptp_trace_point_id(P),
                        ptp_trace_point_text_mask(P),
                        static_cast<uint32_t>(sizeof...(A)),
                        {ptp_trace_detail::word(args)...}};
    const uint32_t encap = static_cast<uint32_t>(e.args[pos + 2]);
    if (encap == PTP_TRACE_ADDR_ENCAP_IPV6 && e.args[pos] != 0)
        e.text_mask |= 1u << pos;
    e.id |= static_cast<uint64_t>(ptp_jotlog_addr_fmt_get(pos, encap)) << PTP_TRACE_ADDR_FMT_SHIFT;
    return e;
}

inline void ptp_trace_group(jotlog_handle_type handle, const jotlog_entry_type *entries, uint32_t count)
{
    if (handle != nullptr)
        jotlog_write_group(handle, entries, count);
}
