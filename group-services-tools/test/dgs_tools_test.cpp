// The group-services tools as an operator runs them, against a platform daemon: each command
// line's exit status, standard output and standard error as a table, what the daemon's end point
// prints for a show request, and the trace records the requests left, through dgs_trace_show.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "daemon_test_child.h"
#include "dgs.h"
#include "evm_test_thread.h"
#include "jotlog.h"

namespace {

struct result_type {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a program with the environment's additions; its two streams apart.
result_type run(const std::vector<std::string> &args, const std::map<std::string, std::string> &env)
{
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {out[0], out[1], err[0], err[1]})
            close(fd);
        for (const auto &[k, v] : env)
            setenv(k.c_str(), v.c_str(), 1);
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    result_type r;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    for (int open = 2; open > 0;) {
        if (poll(fds, 2, 10000) <= 0)
            break;
        for (pollfd &p : fds) {
            if (p.fd < 0 || p.revents == 0)
                continue;
            char buf[4096];
            const ssize_t n = read(p.fd, buf, sizeof buf);
            if (n <= 0) {
                close(p.fd);
                p.fd = -1;
                --open;
            } else {
                (p.fd == out[0] ? r.out : r.err).append(buf, static_cast<size_t>(n));
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::vector<std::string> split(const std::string &s)
{
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

std::string process_name()
{
    char comm[64] = "";
    if (FILE *f = std::fopen("/proc/self/comm", "r")) {
        if (std::fgets(comm, sizeof comm, f) != nullptr)
            comm[std::strcspn(comm, "\n")] = '\0';
        std::fclose(f);
    }
    return comm;
}

class GroupServicesTools : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/dgs_tools_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        socket = dir + "/platform.sock";
        daemon = spawn({PLATFORMD_PATH, "--socket", socket}, {{"PTP_PLATFORM_SOCKET", socket}});
        ASSERT_TRUE(wait_for_daemon(socket)) << "the daemon did not come up";
        // This process owns two end points of one name; its own records stay apart from the tools'.
        setenv("PTP_PLATFORM_SOCKET", socket.c_str(), 1);
        unsetenv("PTP_NODE");
        jotlog_set_run_dir((dir + "/test").c_str());
        for (dgs_bind_type *&b : dup)
            ASSERT_EQ(dgs_bind(owner.evm, nullptr, "dup", 0, 0, nullptr, &b), 0u);
        env = {{"PTP_PLATFORM_SOCKET", socket}, {"PTP_RUN_DIR", dir}};
    }
    void TearDown() override
    {
        for (dgs_bind_type *b : dup)
            dgs_unbind(b);
        stop(daemon);
        jotlog_set_run_dir(nullptr);
        std::filesystem::remove_all(dir);
    }

    std::string dir, socket;
    child_type daemon;
    evm_thread owner;
    dgs_bind_type *dup[2] = {nullptr, nullptr};
    std::map<std::string, std::string> env;
};

TEST_F(GroupServicesTools, OptionsMessagesStatusesAndStreams)
{
    const std::string me = std::to_string(getpid());
    const std::string comm = process_name();
    const std::string dup_line = " dest_info_p[0]: jid '" + me + "', pid '" + me + "', pname '" + comm +
                                 "', service 'dup'\n dest_info_p[1]: jid '" + me + "', pid '" + me + "', pname '" +
                                 comm + "', service 'dup'\n";
    struct case_type {
        const char *args;
        int status;
        std::string err;
        std::vector<std::string> daemon; // what the daemon's end point prints
    };
    const std::string tool = DGS_ENDPOINT_SHOW_PATH;
    const std::string daemon_pid = std::to_string(daemon.pid);
    const case_type cases[] = {
        {"", 1, "Missing Input\n", {}},
        {"-a -e x", 1, "Missing Input\n", {}},
        {"-d", 1, "Missing Input\n", {}},
        {"-d -e nosuch", 1, "Can't lookup end point\n", {}},
        {"-s -e dup", 1, "qsm_lookup failed for 'dup' due to cnt 2\n" + dup_line + "Can't lookup end point\n", {}},
        // The suffix only finds the end point: the tool binds under the bare name (its records).
        {"-d -e plat -E formd",
         0,
         "",
         {"platformd: show request 0x201 from '" + tool + "'",
          "  end point 1 'platformd': pid " + daemon_pid + ", pname 'platformd'",
          "  end point 2 'dup': pid " + me + ", pname '" + comm + "'",
          "  end point 3 'dup': pid " + me + ", pname '" + comm + "'"}},
        {"-x -s -a -e platformd",
         0,
         "",
         {"platformd: show request 0x206 from '" + tool + "'", "group services: 3 end points, 4 binds"}},
    };
    for (const case_type &c : cases) {
        SCOPED_TRACE(c.args);
        std::vector<std::string> args = split(c.args);
        args.insert(args.begin(), tool);
        const result_type r = run(args, env);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.err);
        for (const std::string &line : c.daemon)
            EXPECT_EQ(read_line(daemon), line);
    }
    // Without a daemon, nothing is found.
    std::map<std::string, std::string> away = env;
    away["PTP_PLATFORM_SOCKET"] = dir + "/nobody.sock";
    const result_type r = run({tool, "-d", "-e", "platformd"}, away);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Can't lookup end point\n");

    // The records of the two requests, through dgs_trace_show (time and pid left out), and none
    // of them in the error buffer.
    const result_type trace = run({DGS_TRACE_SHOW_PATH}, env);
    EXPECT_EQ(trace.status, 0);
    EXPECT_EQ(trace.err, "");
    const std::string lines =
        std::regex_replace(trace.out, std::regex(R"(^\S+ \S+ dgs [0-9]+: )", std::regex::multiline), "");
    EXPECT_EQ(lines, "dgs_bind: plat\n"
                     "dgs_bind: plat created hdl 0x0:0x4 Lo-port 0 Hi-port 0\n"
                     "dgs_endp_to_hdl: created plat node 0 owner hdl 0x0:0x4 hdl 0x0:0x1 refcnt 1\n"
                     "dgs_destroy: plat remote hdl 0x0:0x1 refcnt 0\n"
                     "dgs_unbind: plat local hdl 0x0:0x4 refcnt 0\n"
                     "dgs_bind: platformd\n"
                     "dgs_bind: platformd created hdl 0x0:0x5 Lo-port 0 Hi-port 0\n"
                     "dgs_endp_to_hdl: created platformd node 0 owner hdl 0x0:0x5 hdl 0x0:0x1 refcnt 1\n"
                     "dgs_destroy: platformd remote hdl 0x0:0x1 refcnt 0\n"
                     "dgs_unbind: platformd local hdl 0x0:0x5 refcnt 0\n")
        << trace.out;
    const result_type errors = run({DGS_TRACE_SHOW_PATH, "-E"}, env);
    EXPECT_EQ(errors.status, 0);
    EXPECT_EQ(errors.out, "");
    EXPECT_EQ(errors.err, "");
}

} // namespace
