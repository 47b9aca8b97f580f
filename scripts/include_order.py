#!/usr/bin/env python3
"""include_order.py FILE...: checks the order of each C or C++ file's includes
as CONTRIBUTING has it: project headers ("..."), then other libraries, then
the system's POSIX and Linux headers, then the standard library, each kind in
groups of its own, a blank line between groups. Prints each file out of order
with what it found; exits 1 when there is one."""

import re
import sys

KINDS = ["project", "library", "system", "standard"]
SYSTEM = re.compile(r"<(unistd|fcntl|dirent|poll|pthread|sched|spawn|netdb|ifaddrs|locale"
                    r"|(sys|arpa|netinet|net|linux)/[a-z0-9_]+)\.h>")
C_STANDARD = re.compile(r"<(assert|ctype|errno|float|inttypes|limits|math|setjmp|signal|stdarg"
                        r"|stdbool|stddef|stdint|stdio|stdlib|string|time|wchar)\.h>")
CXX_STANDARD = re.compile(r"<[a-z_0-9]+>")


def kind_of(header):
    if header.startswith('"'):
        return "project"
    if SYSTEM.fullmatch(header):
        return "system"
    if C_STANDARD.fullmatch(header) or CXX_STANDARD.fullmatch(header):
        return "standard"
    return "library"


def groups_of(path):
    """The kinds of each group of includes, in order, up to the first line
    that is neither an include, a comment nor blank."""
    groups, current = [], []
    with open(path, encoding="utf-8") as source:
        for line in source:
            line = line.strip()
            match = re.match(r"#include\s+([<\"][^>\"]+[>\"])", line)
            if match:
                current.append(kind_of(match.group(1)))
            elif line == "":
                if current:
                    groups.append(current)
                    current = []
            elif line.startswith(("//", "/*", "*", "#pragma once")):
                continue
            elif groups or current:
                break
    if current:
        groups.append(current)
    return groups


def problem(groups):
    last = 0
    for group in groups:
        if len(set(group)) > 1:
            return "a group mixes " + " and ".join(sorted(set(group), key=KINDS.index)) + " headers"
        rank = KINDS.index(group[0])
        if rank < last:
            return f"{group[0]} headers after {KINDS[last]} headers"
        last = rank
    return None


def main(files):
    status = 0
    for path in files:
        found = problem(groups_of(path))
        if found:
            print(f"{path}: includes out of order: {found}")
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
