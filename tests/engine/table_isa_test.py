#!/usr/bin/env python3
"""Checks every dispatch-table member's `requires` against its object code.

The listing program prints one line per table row: the kernel function's
name and the features the row requires (avx, avx2, fma). The kernels'
object files are disassembled; a function uses a feature when it, or a
function it calls or jumps to (in any of the objects), contains one of the
feature's instructions:
  fma   vfmadd / vfmsub / vfnmadd / vfnmsub
  avx2  256-bit integer vector instructions (vp* on %ymm, but for AVX's
        vperm2f128, vpermil* and vptest), vpbroadcast*,
        vperm2i128 / vpermd / vpermq / vpermps, vinserti128 / vextracti128,
        vpgather / vgather, variable shifts, vbroadcastss from a register
  avx   any VEX instruction (v* mnemonics, %ymm registers)
A row whose requires lacks a feature its member's code uses fails: the
table could run that code on a processor without the feature.

    table_isa_test.py LISTING_PROGRAM 'A.cpp.o;B.cpp.o;...' [OBJDUMP]
"""
import re
import subprocess
import sys

FUNC = re.compile(r"^[0-9a-f]+ <(.+)>:$")
INSN = re.compile(r"^\s+[0-9a-f]+:\t(?:[0-9a-f]{2} )*\s*\t?([a-z][a-z0-9.]*)\s*(.*)$")
TARGET = re.compile(r"<(.+?)(?:\+0x[0-9a-f]+)?>$")
RELOC = re.compile(r"R_X86_64_(?:PLT32|PC32)\s+(.+?)(?:-0x[0-9a-f]+)?$")
# vp* instructions that AVX already has for %ymm.
AVX_VP = ("vperm2f128", "vpermilps", "vpermilpd", "vptest")
AVX2_NAMES = re.compile(r"^(vpbroadcast|vperm2i128|vpermd|vpermq|vpermps|vinserti128|vextracti128"
                        r"|vpgather|vgather|vpsllv|vpsrlv|vpsrav|vpmaskmov)")


def features_of(mnemonic, operands):
    used = set()
    if mnemonic.startswith("v") or "%ymm" in operands:
        used.add("avx")
    if re.match(r"^vf(n?)m(add|sub)", mnemonic):
        used.add("fma")
    if (AVX2_NAMES.match(mnemonic) or (mnemonic.startswith("vp") and not mnemonic.startswith(AVX_VP) and "%ymm" in operands)
            or (mnemonic.startswith("vbroadcasts") and operands.startswith("%xmm"))):
        used.add("avx2")
    return used


def disassemble(objdump, objects):
    """{(object, function): (own features, called functions)} over all objects."""
    funcs = {}
    for obj in objects:
        out = subprocess.run([objdump, "-dr", "-C", "--no-show-raw-insn", obj], check=True,
                             capture_output=True, text=True).stdout
        key = None
        for line in out.splitlines():
            m = FUNC.match(line)
            if m:
                key = (obj, m.group(1))
                funcs.setdefault(key, (set(), set()))
                continue
            if not key:
                continue
            own, calls = funcs[key]
            r = RELOC.search(line)
            if r:
                calls.add(r.group(1))
                continue
            i = INSN.match(line)
            if not i:
                continue
            mnemonic, operands = i.group(1), i.group(2)
            own |= features_of(mnemonic, operands)
            if mnemonic.startswith(("call", "jmp")):
                t = TARGET.search(operands)
                if t:
                    calls.add(t.group(1))
    return funcs


def used_features(funcs, key, seen):
    """Features of a function and of everything it reaches: a callee defined
    in the caller's own object is that copy (local and anonymous-namespace
    functions share names across objects); one defined elsewhere is any copy
    of that name."""
    if key in seen or key not in funcs:
        return set()
    seen.add(key)
    own, calls = funcs[key]
    used = set(own)
    for callee in calls:
        local = (key[0], callee)
        targets = [local] if local in funcs else [k for k in funcs if k[1] == callee]
        for target in targets:
            used |= used_features(funcs, target, seen)
    return used


def main():
    listing, objects = sys.argv[1], [o for o in sys.argv[2].split(";") if o]
    objdump = sys.argv[3] if len(sys.argv) > 3 else "objdump"
    funcs = disassemble(objdump, objects)
    rows = subprocess.run([listing], check=True, capture_output=True, text=True).stdout.split("\n")
    problems, checked = [], 0
    for row in filter(None, rows):
        symbol, _, requires = row.partition(" ")
        requires = set(requires.split())
        matches = [k for k in funcs if re.match(r"TAVROMATTING::(\w+::)*%s\(" % symbol, k[1])]
        if not matches:
            problems.append(f"{symbol}: not found in the kernels' objects")
            continue
        used = set()
        for f in matches:
            used |= used_features(funcs, f, set())
        missing = used - requires
        if missing:
            problems.append(f"{symbol}: requires {sorted(requires) or 'nothing'} but its code uses "
                            f"{sorted(missing)}")
        checked += 1
    for p in problems:
        print(p)
    print(f"{checked} table rows checked, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
