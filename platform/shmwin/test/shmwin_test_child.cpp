// Child of the restart test: opens the window named by argv[1] with header size 64 and version
// 1, stores argv[2] allocations of 64 bytes linked by offset from the header, each holding its
// index, reports "ready" on stdout and waits to be killed.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "shmwin.h"

int main(int argc, char **argv)
{
    if (argc < 3) {
        return 2;
    }
    shmwin_handle_type win = nullptr;
    void *hdr = nullptr;
    if (shmwin_open_win_v1(argv[1], 64, 1, nullptr, nullptr, &win, &hdr) != 0) {
        return 3;
    }
    uint64_t count = std::strtoull(argv[2], nullptr, 10);
    uint64_t head = 0;
    for (uint64_t i = 0; i < count; i++) {
        void *p = nullptr;
        if (shmwin_malloc(win, 64, &p) != 0) {
            return 4;
        }
        uint64_t words[2] = {i, head}; // value, next offset
        std::memcpy(p, words, sizeof(words));
        head = shmwin_ptr_to_offset(win, p);
    }
    std::memcpy(hdr, &head, sizeof(head));
    std::printf("ready %p\n", hdr);
    std::fflush(stdout);
    for (;;) {
        pause();
    }
}
