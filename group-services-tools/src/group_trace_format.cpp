// The group-services trace texts, one table per buffer, and the display tool over them.
#include "group_trace_format.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "dgs_trace.h"

namespace {

struct trace_text {
    uint64_t key;
    const char *format;
};

constexpr trace_text record_texts[] = {
    {DGS_TRACE_BIND, "dgs_bind: %s"},
    {DGS_TRACE_BIND_CREATED, "dgs_bind: %s created hdl 0x%lx:0x%lx Lo-port %ld Hi-port %ld"},
    {DGS_TRACE_DESTROY, "dgs_destroy: %s remote hdl 0x%lx:0x%lx refcnt %ld"},
    {DGS_TRACE_UNBIND, "dgs_unbind: %s local hdl 0x%lx:0x%lx refcnt %ld"},
    {DGS_TRACE_INPUT_RECV, "dgs_input_handler: calling recv fd %ld cnt %ld "},
    {DGS_TRACE_ENDP_TO_HDL, "dgs_endp_to_hdl: created %s node %ld owner hdl 0x%lx:0x%lx hdl 0x%lx:0x%lx refcnt %ld"},
    {DGS_TRACE_INPUT_DONE, "dgs_input_handler: done calling recv fd %ld cnt %ld"},
};

constexpr trace_text error_texts[] = {
    {DGS_TRACE_ERR_BIND_CONFLICT, "dgs_bind: %s hdl 0x%lx:0x%lx conflicting info"},
    {DGS_TRACE_ERR_BIND_EXISTS, "dgs_bind: %s hdl 0x%lx: 0x%lx already exist refcnt %ld"},
    {DGS_TRACE_ERR_DESTROY_MISSING, "dgs_destroy: hdl 0x%lx:0x%lx does not exist"},
    {DGS_TRACE_ERR_ENDP_UNDECODED, "dgs_endp_to_hdl: can't decode endp 0x%lx:0x%lx"},
    {DGS_TRACE_ERR_ENDP_MISSING_ARGS, "dgs_endp_to_hdl: missing args in endp"},
    {DGS_TRACE_ERR_ENDP_MISS_PORTS, "dgs_endp_to_hdl: %s node %ld owner hdl 0x%lx:0x%lx miss ports"},
    {DGS_TRACE_ERR_ERROR, "dgs_error: %s line  %ld error %ld"},
};

// Appends to the text being built; what does not fit is cut, the text stays terminated.
struct text_out {
    char *buf;
    size_t size;
    size_t used = 0;

    void add(const char *s, size_t n)
    {
        for (size_t i = 0; i < n && used + 1 < size; ++i)
            buf[used++] = s[i];
        buf[used] = '\0';
    }
    void add(const char *s) { add(s, strlen(s)); }
};

// The format's conversions (%s, %ld, %lx, %%) filled from the record's arguments in order; the
// format is our own table's, never handed to printf.
void render(const char *format, const jotlog_record_type *record, text_out *out)
{
    uint32_t next = 0;
    char num[32];
    for (const char *p = format; *p != '\0';) {
        if (*p != '%') {
            const char *end = strchr(p, '%');
            const size_t n = end != nullptr ? static_cast<size_t>(end - p) : strlen(p);
            out->add(p, n);
            p += n;
            continue;
        }
        if (p[1] == '%') {
            out->add("%");
            p += 2;
            continue;
        }
        const bool is_long = p[1] == 'l';
        const char conv = is_long ? p[2] : p[1];
        p += is_long ? 3 : 2;
        const uint32_t i = next++;
        const bool present = i < record->nargs && i < JOTLOG_MAX_ARGS;
        if (conv == 's') {
            const char *text = present ? jotlog_record_text(record, i) : nullptr;
            out->add(text != nullptr ? text : "?");
        } else if (!present) {
            out->add("?");
        } else if (conv == 'x') {
            snprintf(num, sizeof num, "%" PRIx64, record->args[i]);
            out->add(num);
        } else {
            snprintf(num, sizeof num, "%" PRId64, static_cast<int64_t>(record->args[i]));
            out->add(num);
        }
    }
}

template <size_t N>
int format_from(const trace_text (&table)[N], const jotlog_record_type *record, char *buf, size_t size)
{
    if (record == nullptr || buf == nullptr || size == 0)
        return 0;
    for (const trace_text &t : table)
        if (t.key == record->id) {
            text_out out{buf, size};
            out.add("");
            render(t.format, record, &out);
            break;
        }
    return 0;
}

} // namespace

int group_trace_format_record(const jotlog_record_type *record, uint64_t, char *buf, size_t size)
{
    return format_from(record_texts, record, buf, size);
}

int group_trace_format_error(const jotlog_record_type *record, uint64_t, char *buf, size_t size)
{
    return format_from(error_texts, record, buf, size);
}

int dgs_trace_show_main(int argc, char **argv)
{
    // Only -E is the tool's; the reader parses the whole command line with it as a known option.
    bool errors = false;
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        const char *a = argv[i];
        if (strcmp(a, "--") == 0)
            break;
        if (a[0] == '-' && a[1] != '-' && strchr(a + 1, 'E') != nullptr)
            errors = true;
    }
    const char *const record_buffers[] = {"dgs", nullptr};
    const char *const error_buffers[] = {"dgs_err", nullptr};
    return jotlog_show(argc, argv, "E", 0, errors ? group_trace_format_error : group_trace_format_record,
                       errors ? error_buffers : record_buffers);
}
