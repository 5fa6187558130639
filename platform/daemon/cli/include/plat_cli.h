// The chassis commands of the operator's command line, sent to the platform daemon
// (plat_socket_path()). NODE is a node's name ("0/1/CPU0") or id ("0x10"); NAME an interface's or
// a process's name.
//
//   show nodes | processes | links          the chassis' nodes, the process table, the relay's counts
//   show interfaces [NODE]                   the interface manager's tables
//   process kill NODE NAME                   kill -9; the process manager starts it again
//   process stop NODE NAME                   kill -9; it stays stopped
//   process restart NODE NAME                start it again now (a stopped one too)
//   event lr NODE|all KIND                   a logical-router event: "told N"
//   interface up|down NODE NAME              the line state (an interface event)
//   interface state NODE NAME up|down|admin-down|N
//   interface ipv4|ipv6 NODE NAME ADDR[,ADDR...]|none
//   interface drop NODE|all                  the interface manager drops the node's clients: "told N"
//   link down|up NODE                        the node's group-messaging link
#pragma once

#include <string>
#include <vector>

// Runs one command given as words. -1 when the words are not a chassis command (nothing was
// done); 0 when it succeeded (its output appended to *out); 1 when it failed (the reason in
// *error).
int plat_cli_run(const std::vector<std::string> &words, std::string *out, std::string *error);
