// The operator's command line to the database: each line one command.
//
//   set <path> <value>        stage an item (committed by "commit" or at the end of the input)
//   delete <path>             stage the removal of an existing item
//   commit                    "commit N: applied" | "applied (completion pending)" | "rejected",
//                             then one line per failing (or warning) item: path, code, text
//   show config [prefix]      the committed items below prefix ("/cfg/"), one "path value" a line
//   get|list|datalist <path>  an operational item, a listing, every item below a path
//   action <path> <value>     write an action item (its provider acts on it)
//   and the chassis' commands of plat_cli.h (show nodes|processes|links|interfaces, process,
//   event, interface, link)
//
// Values: decimal or 0x integers, bare or "quoted" texts, tuples (a,,c) whose empty fields are
// absent. A bad line prints one "error: <line>: <reason>" line; it and everything after it is
// not run and what was staged is dropped. Lines must be UTF-8 and item paths at most 1024 bytes;
// an error echoes at most 200 bytes of its line (and of a word it names), control characters and
// bytes that are not UTF-8 as \xNN, followed by "... (N bytes)" when it was cut.
#pragma once

#include <string>
#include <vector>

struct nodra_cli_type;

// Runs the lines, appending what they print to *out. 0 when every line succeeded, else 1.
int nodra_cli_run(const std::vector<std::string> &lines, std::string *out);

// get, list and datalist print a bag as its fields, with the help texts and enumeration names of
// a loaded description library (bag_library_load), or as "<type 7 0x...>" when no description of
// it is known; with true, always as its bytes.
void nodra_cli_show_bags_as_hex(bool hex);
