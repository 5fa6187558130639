#!/usr/bin/env python3
"""Fails when a test program holds a fake of a symbol that a project library it links defines.

Each manifest (written by cmake/ptp_fake_check.cmake) names a program, its own objects (test
sources and test-code object libraries) and the project's libraries and module objects it
links. A fake shadows real code when the program holds a weak definition of a symbol that one
of those libraries defines strongly, or when one of its own objects defines such a symbol at
all: either way the linker may take the fake without a word, depending on link order.
"""
import os
import subprocess
import sys

STRONG = set("TDBRGS")
DEFINED = STRONG | set("WVui")


def defined_symbols(path):
    """{symbol: set of nm type letters} of the global definitions in an object or archive."""
    out = subprocess.run(["nm", "-g", "--defined-only", path], capture_output=True, text=True, check=True).stdout
    symbols = {}
    for line in out.splitlines():
        parts = line.split()
        if len(parts) >= 3 and parts[-2] in DEFINED:
            symbols.setdefault(parts[-1], set()).add(parts[-2])
    return symbols


def demangle(names):
    out = subprocess.run(["c++filt"], input="\n".join(names), capture_output=True, text=True).stdout
    return out.splitlines()


def main():
    folder = sys.argv[1]
    cache = {}

    def symbols(path):
        if path not in cache:
            cache[path] = defined_symbols(path)
        return cache[path]

    failures = []
    checked = skipped = 0
    for name in sorted(os.listdir(folder)):
        program, own, libraries = None, [], []
        with open(os.path.join(folder, name)) as f:
            for line in f:
                kind, _, path = line.strip().partition(" ")
                if not path:
                    continue
                if kind == "program":
                    program = path
                elif kind == "own":
                    own.append(path)
                else:
                    libraries.append(path)
        if program is None or not os.path.exists(program):
            skipped += 1  # not built in this configuration
            continue
        checked += 1
        real = {}
        for lib in libraries:
            for sym, kinds in symbols(lib).items():
                if kinds & STRONG:
                    real.setdefault(sym, lib)
        shadowed = {}
        for sym, kinds in symbols(program).items():
            if sym in real and kinds & set("WV"):
                shadowed[sym] = "weak definition in the program"
        for obj in own:
            for sym, kinds in symbols(obj).items():
                if sym in real and (kinds & STRONG or kinds & set("WV")) and sym not in shadowed:
                    shadowed[sym] = "defined by " + os.path.basename(obj)
        for sym, readable in zip(sorted(shadowed), demangle(sorted(shadowed))):
            failures.append(f"{os.path.basename(program)}: {readable}: {shadowed[sym]}, "
                            f"real in {os.path.basename(real[sym])}")
    for failure in failures:
        print(failure)
    print(f"{checked} programs checked, {skipped} not built here, {len(failures)} fakes shadowing real code")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
