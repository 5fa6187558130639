// platformd [--socket PATH]: the chassis' platform daemon.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <thread>

#include "plat_daemon.h"

int main(int argc, char **argv)
{
    const char *path = plat_socket_path();
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--socket") == 0 && i + 1 < argc) {
            path = argv[++i];
        } else {
            fprintf(stderr, "usage: %s [--socket PATH]\n", argv[0]);
            return 2;
        }
    }
    // The processes the daemon starts find it where it serves.
    setenv("PTP_PLATFORM_SOCKET", path, 1);
    // Signals are taken by one thread, so that the event loop is told in an orderly way.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
        int sig = 0;
        sigwait(&set, &sig);
        plat_daemon_stop();
    }).detach();
    return plat_daemon_run(path) == ZERR_OK ? 0 : 1;
}
