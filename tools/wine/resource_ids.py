#!/usr/bin/env python3
"""Writes the resource and control ids of the programs' resource.h files as a
Python module, one class a program, so that the journeys name an id as the
C++ code does and a renamed or removed id fails their import:

    resource_ids.py OUT.py NAME=path/resource.h ...
"""
import re
import sys

DEFINE = re.compile(r"^\s*#define\s+([A-Z][A-Z0-9_]*)\s+(0[xX][0-9a-fA-F]+|\d+)\s*(?://.*)?$")


def ids_of(header):
    with open(header, encoding="utf-8") as f:
        return [(m.group(1), int(m.group(2), 0)) for m in map(DEFINE.match, f) if m]


def module_text(programs):
    out = ["# Made at build time by tools/wine/resource_ids.py from the programs'", "# resource.h files."]
    for name, header in programs:
        out += ["", "", f"class {name}:", f'    """{header}"""']
        out += [f"    {ident} = {value}" for ident, value in ids_of(header)]
    return "\n".join(out) + "\n"


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    programs = [arg.split("=", 1) for arg in argv[2:]]
    with open(argv[1], "w", encoding="utf-8") as f:
        f.write(module_text(programs))

if __name__ == "__main__":
    main(sys.argv)
