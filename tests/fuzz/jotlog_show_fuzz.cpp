// Trace buffer files and trace records as another process (or a damaged disk) could leave them,
// into the trace reader and the trace display tool's decoder. The first byte picks the input:
//   0: the bytes are a whole buffer file;
//   1: the bytes patch a valid buffer of every kind of record (pairs of a 16-bit offset and a
//      byte), so that damage reaches past the header checks;
//   2: the bytes are one record as the decoder is handed it (id, count, text mask, words, texts).
// Whatever the bytes, nothing is read past the file or the record, and no format goes unchecked.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "jotlog.h"
#include "jotlog_test.h"
#include "plat_clock_test.h"
#include "ptp_show_jotlog.h"
#include "ptp_trace_points.h"

namespace {

std::string run_dir;
std::vector<uint8_t> valid_file;
const char *const buffers[] = {"ptp/tessel/det", nullptr};

void remove_run_dir()
{
    jotlog_test_run_dir_remove(run_dir);
}

// A buffer holding one record of every point of every class, each argument a word or a text as
// its point says, and a few addresses.
void make_valid_file()
{
    jotlog_handle_type h = nullptr;
    if (jotlog_init2("ptp/tessel/det", 4, 256, 64, 1024, 0, &h) != ZERR_OK)
        std::abort();
    auto write_all = [h](const auto &table) {
        for (const ptp_trace_point_type &point : table) {
            uint64_t words[JOTLOG_MAX_ARGS] = {};
            for (uint32_t i = 0; i < ptp_trace_point_nargs(point); ++i)
                words[i] = ptp_trace_arg_is_text(point.args[i]) ? jotlog_text_arg("text %s %n %") : 0x40 + i;
            _jotlog(h, ptp_trace_point_id(point), ptp_trace_point_text_mask(point), words,
                    ptp_trace_point_nargs(point));
        }
    };
    write_all(ptp_trace_points_tessel);
    write_all(ptp_trace_points_quorrin);
    write_all(ptp_trace_points_util);
    write_all(ptp_trace_points_sardo);
    ptp_trace_address<PTP_TRACE_TESSEL_PKT_DUMP>({h}, 0x40u, 1u, 90u, jotlog_text_arg("2001:db8::1"), uint64_t{0}, 3u);
    jotlog_close(h);
    std::ifstream in(jotlog_file_path("ptp/tessel/det"), std::ios::binary);
    valid_file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const uint8_t *data, size_t size)
{
    FILE *f = std::fopen(jotlog_file_path("ptp/tessel/det").c_str(), "wb");
    if (f == nullptr)
        std::abort();
    if (size > 0)
        std::fwrite(data, 1, size, f);
    std::fclose(f);
}

void show()
{
    char arg0[] = "ptp_show_jotlog";
    char arg1[] = "-i";
    char *argv[] = {arg0, arg1, nullptr};
    jotlog_show(2, argv, "ABi", 0, ptp_show_jotlog_decode, buffers);
}

void decode_record(const uint8_t *data, size_t size)
{
    jotlog_record_type r{};
    size_t at = 0;
    auto take = [&](void *out, size_t n) {
        const size_t k = size - at < n ? size - at : n;
        std::memcpy(out, data + at, k);
        at += k;
    };
    take(&r.id, sizeof r.id);
    take(&r.nargs, sizeof r.nargs);
    take(&r.text_mask, sizeof r.text_mask);
    take(r.args, sizeof r.args);
    // The reader hands out terminated texts inside the record and points their words at them.
    for (uint32_t i = 0; i < JOTLOG_MAX_ARGS; ++i) {
        take(r.text[i], 16);
        r.text[i][16] = '\0';
        if (i < r.nargs && (r.text_mask >> i & 1u) != 0)
            r.args[i] = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(r.text[i]));
    }
    for (size_t out_size : {size_t{1}, size_t{7}, size_t{64}, size_t{4096}}) {
        std::vector<char> buf(out_size);
        if (ptp_show_jotlog_decode(&r, 0, buf.data(), buf.size()) == 0 &&
            std::memchr(buf.data(), '\0', out_size) == nullptr)
            std::abort(); // a decoded text is always terminated inside its buffer
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    plat_clock_use_virtual();
    run_dir = jotlog_test_run_dir_create("ptp-jotlog-fuzz");
    if (run_dir.empty())
        std::abort();
    std::atexit(remove_run_dir);
    make_valid_file();
    // Damaged buffers are reported on stderr: a short run closes it (-close_fd_mask=2), and
    // libFuzzer keeps its own copy for reports.
    jotlog_show_set_output(std::fopen("/dev/null", "w"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t mode = data[0] % 3;
    ++data;
    --size;
    if (mode == 0) {
        write_file(data, size);
        show();
    } else if (mode == 1) {
        std::vector<uint8_t> file = valid_file;
        for (size_t i = 0; i + 2 < size; i += 3) {
            const size_t offset = (static_cast<size_t>(data[i]) << 8 | data[i + 1]) % file.size();
            file[offset] = data[i + 2];
        }
        // Cut short too, when the input's length says so.
        if (size % 7 == 1)
            file.resize(file.size() / 2);
        write_file(file.data(), file.size());
        show();
    } else {
        decode_record(data, size);
    }
    return 0;
}
