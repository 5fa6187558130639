// nodractl: the operator's command line to the configuration database.
//   nodractl [--socket PATH] COMMAND...    one command
//   nodractl [--socket PATH] -f FILE       the commands of a file ("-" for standard input)
//   nodractl [--socket PATH]               the commands of standard input
//   --hex                                  bags as their bytes, not their fields
// Bags are described by the library at $PTP_BAG_LIB (default /pkg/lib/libbagwright.so).
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "bag.h"
#include "nodra_cli.h"
#include "nodra_test.h"

int main(int argc, char **argv)
{
    CLI::App app{"Configuration and operational database command line"};
    std::string socket;
    std::string file;
    std::vector<std::string> words;
    bool hex = false;
    app.add_option("--socket", socket, "the platform daemon's socket");
    app.add_option("-f,--file", file, "read commands from a file (- for standard input)");
    app.add_flag("--hex", hex, "print bags as their bytes");
    app.add_option("command", words, "one command and its arguments");
    app.allow_extras(false);
    app.prefix_command(false);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e);
    }
    if (!socket.empty()) {
        nodra_test_use_socket(socket.c_str());
        setenv("PTP_PLATFORM_SOCKET", socket.c_str(), 1); // the chassis' commands
    }

    nodra_cli_show_bags_as_hex(hex);
    // Without the library a bag is shown as its bytes.
    if (!hex)
        (void)bag_library_load(bag_description_library_path());

    std::vector<std::string> lines;
    if (!words.empty()) {
        std::string line;
        for (const std::string &w : words) {
            if (!line.empty())
                line += ' ';
            // Words the shell unquoted are quoted again when they hold blanks.
            line += w.find_first_of(" \t") != std::string::npos && w.front() != '(' ? "\"" + w + "\"" : w;
        }
        lines.push_back(line);
    } else {
        std::ifstream in;
        std::istream *src = &std::cin;
        if (!file.empty() && file != "-") {
            in.open(file);
            if (!in) {
                printf("error: %s: cannot read the file\n", file.c_str());
                return 1;
            }
            src = &in;
        }
        for (std::string line; std::getline(*src, line);)
            lines.push_back(line);
    }
    std::string out;
    const int status = nodra_cli_run(lines, &out);
    fputs(out.c_str(), stdout);
    return status;
}
