#!/usr/bin/env python3
"""Checks the instruction sets in the compute kernels' object files.

The module must load and run on processors without AVX: only the members
chosen after a CPUID check may use VEX-encoded (AVX, FMA, F16C) instructions.
Two rules, from the disassembly and the symbol tables:
  1. an object whose source asks for no extra instruction set (no target
     pragma or attribute) contains no VEX instruction at all;
  2. a weak (COMDAT) function with VEX instructions in one object is neither
     defined without them in another nor called from a baseline object: the
     linker keeps any one copy of a weak function, so an AVX copy could
     replace the one a baseline member calls.

    isa_objects_test.py SOURCE_DIR 'A.cpp.o;B.cpp.o;...' [OBJDUMP]
"""
import os
import re
import subprocess
import sys

FUNC = re.compile(r"^[0-9a-f]+ <(.+)>:$")
VEX = re.compile(r"\t(v[a-z0-9]+)\b|%ymm|%zmm")


def vex_functions(objdump, obj):
    out = subprocess.run([objdump, "-d", "--no-show-raw-insn", obj], check=True,
                         capture_output=True, text=True).stdout
    found, name = set(), None
    for line in out.splitlines():
        m = FUNC.match(line)
        if m:
            name = m.group(1)
        elif name and VEX.search(line):
            found.add(name)
    return found


def symbols(objdump, obj):
    """(weak functions defined here, symbols used here but defined elsewhere)."""
    out = subprocess.run([objdump, "-t", obj], check=True, capture_output=True, text=True).stdout
    weak, undefined = set(), set()
    for line in out.splitlines():
        parts = line.split()
        if len(parts) < 4:
            continue
        if "*UND*" in parts:
            undefined.add(parts[-1])
        elif " w " in line and " F " in line:  # flags of a weak function
            weak.add(parts[-1])
    return weak, undefined


def main():
    source_dir, objects = sys.argv[1], [o for o in sys.argv[2].split(";") if o]
    objdump = sys.argv[3] if len(sys.argv) > 3 else "objdump"
    if not objects:
        print("no objects given")
        return 1
    problems = []
    weak_vex, weak_plain, baseline_uses = {}, {}, {}
    for obj in objects:
        source = os.path.join(source_dir, os.path.splitext(os.path.basename(obj))[0])
        with open(source, encoding="utf-8") as f:
            asks_for_isa = "target(" in f.read()
        vex = vex_functions(objdump, obj)
        weak, undefined = symbols(objdump, obj)
        if vex and not asks_for_isa:
            problems.append("%s: baseline object uses VEX in %s" % (obj, ", ".join(sorted(vex))))
        for fn in weak:
            (weak_vex if fn in vex else weak_plain).setdefault(fn, []).append(obj)
        if not asks_for_isa:
            for fn in undefined:
                baseline_uses.setdefault(fn, []).append(obj)
    for fn in sorted(weak_vex):
        others = weak_plain.get(fn, []) + baseline_uses.get(fn, [])
        if others:
            problems.append("weak function %s has VEX in %s but is defined or called without "
                            "it in %s" % (fn, weak_vex[fn][0], others[0]))
    for p in problems:
        print(p)
    print("%d objects checked, %d problems" % (len(objects), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
