#!/usr/bin/env python3
"""include_cycles.py FILE...: names every cycle of includes between the parts
of a folder (a part is a header and its source, X.h and X.cpp), so that within
a folder nothing includes a file that depends on it. Project includes are read
by their path from Sources/. Prints each cycle; exits 1 when there is one."""

import os
import re
import sys

INCLUDE = re.compile(r'#include "([^"]+)"')


def part(path):
    return os.path.splitext(path)[0]


def main(files):
    edges = {}
    for path in files:
        with open(path, encoding="utf-8") as source:
            for line in source:
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = os.path.join("Sources", match.group(1))
                if os.path.dirname(target) == os.path.dirname(path) and part(target) != part(path):
                    edges.setdefault(part(path), set()).add(part(target))

    cycles = []
    state = {}
    trail = []

    def visit(node):
        state[node] = "open"
        trail.append(node)
        for target in sorted(edges.get(node, ())):
            if state.get(target) == "open":
                cycles.append(trail[trail.index(target):] + [target])
            elif target not in state:
                visit(target)
        trail.pop()
        state[node] = "done"

    for node in sorted(edges):
        if node not in state:
            visit(node)
    for cycle in cycles:
        print("includes run back up:", " -> ".join(os.path.basename(node) for node in cycle),
              f"({os.path.dirname(cycle[0])})")
    return 1 if cycles else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
