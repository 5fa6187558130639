// Definition and limit records of the syslog catalogue, and its typed raise wrappers.
#include "ptp_syslog.h"

#include <array>
#include <string_view>
#include <type_traits>

namespace {

// ---- Compile-time check of wrapper arguments against a message's format --------------------

template <typename... T>
struct arg_types {
};

template <typename... T>
arg_types<T...> arg_types_of(T...); // unevaluated only

enum class conv : uint8_t {
    none,
    int_,
    long_,
    llong,
    uint_,
    ulong,
    ullong,
    text
};

template <typename T>
constexpr conv conv_of()
{
    if constexpr (std::is_same_v<T, const char *> || std::is_same_v<T, char *>)
        return conv::text;
    else if constexpr (std::is_same_v<T, int>)
        return conv::int_;
    else if constexpr (std::is_same_v<T, long>)
        return conv::long_;
    else if constexpr (std::is_same_v<T, long long>)
        return conv::llong;
    else if constexpr (std::is_same_v<T, unsigned int>)
        return conv::uint_;
    else if constexpr (std::is_same_v<T, unsigned long>)
        return conv::ulong;
    else if constexpr (std::is_same_v<T, unsigned long long>)
        return conv::ullong;
    else
        return conv::none;
}

// The argument each conversion of fmt expects, in order; false when fmt holds a conversion
// this catalogue does not use.
struct conv_list {
    std::array<conv, 16> items{};
    size_t count = 0;
    bool ok = true;
};

constexpr conv_list parse_format(std::string_view fmt)
{
    conv_list out;
    for (size_t i = 0; i < fmt.size(); ++i) {
        if (fmt[i] != '%')
            continue;
        ++i;
        if (i < fmt.size() && fmt[i] == '%')
            continue;
        while (i < fmt.size() && std::string_view("-+ #0").find(fmt[i]) != std::string_view::npos)
            ++i;
        while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9')
            ++i;
        int longs = 0;
        while (i < fmt.size() && fmt[i] == 'l') {
            ++longs;
            ++i;
        }
        if (i >= fmt.size() || out.count == out.items.size() || longs > 2) {
            out.ok = false;
            return out;
        }
        conv c = conv::none;
        switch (fmt[i]) {
        case 'd':
        case 'i': c = longs == 0 ? conv::int_ : longs == 1 ? conv::long_ : conv::llong; break;
        case 'u':
        case 'x':
        case 'X':
        case 'o': c = longs == 0 ? conv::uint_ : longs == 1 ? conv::ulong : conv::ullong; break;
        case 's': c = longs == 0 ? conv::text : conv::none; break;
        default: break;
        }
        if (c == conv::none)
            out.ok = false;
        out.items[out.count++] = c;
    }
    return out;
}

template <typename... T>
constexpr bool format_accepts(std::string_view fmt, arg_types<T...>)
{
    conv_list want = parse_format(fmt);
    std::array<conv, sizeof...(T) + 1> have{conv_of<T>()..., conv::none};
    if (!want.ok || want.count != sizeof...(T))
        return false;
    for (size_t i = 0; i < want.count; ++i)
        if (want.items[i] != have[i])
            return false;
    return true;
}

// ---- The records ----------------------------------------------------------------------------

struct catalogue_row {
    std::string_view mnemonic;
    uint32_t severity;
    uint32_t preset;
    const char *format;
};

constexpr catalogue_row rows[] = {
#define PTP_SYSLOG_ROW_(M, m, sev, preset, fmt, params, args) {#M, sev, preset, fmt},
    PTP_SYSLOG_CATALOGUE(PTP_SYSLOG_ROW_)
#undef PTP_SYSLOG_ROW_
};
static_assert(std::size(rows) == PTP_SYSLOG_MSG_COUNT);

constexpr bool rows_sorted()
{
    for (size_t i = 1; i < std::size(rows); ++i)
        if (!(rows[i - 1].mnemonic < rows[i].mnemonic))
            return false;
    return true;
}
static_assert(rows_sorted(), "the index of a message is its place in alphabetical order");

// Writable, owned by the platform's rate limiting once the process runs.
qor_msg_limit_type limits[] = {
#define PTP_SYSLOG_LIMIT_(M, m, sev, preset, fmt, params, args) {preset, 0, 0, 0, 0, 0},
    PTP_SYSLOG_CATALOGUE(PTP_SYSLOG_LIMIT_)
#undef PTP_SYSLOG_LIMIT_
};

constexpr qor_msg_rec_type records[] = {
#define PTP_SYSLOG_REC_(M, m, sev, preset, fmt, params, args)                                                          \
    {                                                                                                                  \
        0,                                                                                                             \
        fmt,                                                                                                           \
        &limits[PTP_SYSLOG_##M],                                                                                       \
        "PTP",                                                                                                         \
        "L2",                                                                                                          \
        #M,                                                                                                            \
        (sev) << 16,                                                                                                   \
        {0, 0, 0},                                                                                                     \
        PTP_SYSLOG_MSG_ID_BASE + PTP_SYSLOG_##M,                                                                       \
        0},
    PTP_SYSLOG_CATALOGUE(PTP_SYSLOG_REC_)
#undef PTP_SYSLOG_REC_
};

inline const char *safe_arg(const char *text)
{
    return text != nullptr ? text : "";
}
template <typename T>
inline T safe_arg(T value)
{
    return value;
}

template <uint32_t I, typename... T>
zerrno raise(T... args)
{
    static_assert(format_accepts(rows[I].format, arg_types<T...>{}), "wrapper arguments do not match the message text");
    return qor_errmsg(&records[I], static_cast<int>(rows[I].severity), safe_arg(args)...);
}

} // namespace

#define PTP_SYSLOG_DEFINE_(M, m, sev, preset, fmt, params, args)                                                       \
    const qor_msg_rec_type *qor_msg_rec_ptp_##m##_getfn()                                                              \
    {                                                                                                                  \
        return &records[PTP_SYSLOG_##M];                                                                               \
    }                                                                                                                  \
    qor_msg_limit_type *qor_msg_limit_ptp_##m##_getfn()                                                                \
    {                                                                                                                  \
        return &limits[PTP_SYSLOG_##M];                                                                                \
    }                                                                                                                  \
    zerrno ptp_syslog_##m params                                                                                       \
    {                                                                                                                  \
        return raise<PTP_SYSLOG_##M> args;                                                                             \
    }
PTP_SYSLOG_CATALOGUE(PTP_SYSLOG_DEFINE_)
#undef PTP_SYSLOG_DEFINE_

const qor_msg_rec_type *ptp_syslog_msg_rec(uint32_t index)
{
    return index < PTP_SYSLOG_MSG_COUNT ? &records[index] : nullptr;
}
