#!/usr/bin/env python3
"""Every #include "..." of the project points the way docs/ARCHITECTURE.md
allows: a room includes only itself and the rooms listed for it below.
(The link check, cmake/RoomCheck.cmake, sees calls; this sees headers,
including those that carry only types and inline code.)

    room_includes_test.py SOURCE_DIR
"""
import os
import re
import sys

LEAVES = ["diagnostics/", "cpu/", "blend/"]
# room -> rooms (or single headers) it may include besides itself.
ALLOWED = {
    "diagnostics/": [],
    "cpu/": [],
    "blend/": [],
    "system/": [],
    "sdk/": [],
    "impl_x86/": ["cpu/"],
    "engine/core/": ["impl_x86/", "cpu/", "diagnostics/"],
    "engine/simd/": ["engine/core/", "impl_x86/", "cpu/", "diagnostics/"],
    "engine/matting/": ["engine/core/", "impl_x86/", "diagnostics/"],
    "model/": ["engine/core/layer_records.h", "engine/core/record_slots.h"],
    "engine/x86/": ["engine/simd/", "engine/matting/", "engine/core/", "model/", "impl_x86/",
                    "cpu/", "diagnostics/"],
    "matting/": ["engine/x86/matting_net.h", "system/", "diagnostics/", "sdk/filter_settings.h",
                 "cpu/"],
    "extension/": ["matting/", "system/", "sdk/", "diagnostics/", "blend/"],
    "host/": ["sdk/", "blend/"],
}
ANY = ["tools/", "bench/", "tests/"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def room_of(path):
    for room in sorted(ALLOWED, key=len, reverse=True):
        if path.startswith(room):
            return room
    return None


def main():
    src = sys.argv[1]
    problems, files = [], 0
    for top in list(ALLOWED) + ANY:
        for dirpath, _, names in os.walk(os.path.join(src, top)):
            for name in names:
                if not name.endswith((".h", ".cpp", ".c")):
                    continue
                path = os.path.relpath(os.path.join(dirpath, name), src)
                room = room_of(path)
                if room is None:
                    continue  # tools/, bench/, tests/ may include any room
                files += 1
                with open(os.path.join(src, path), errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        target = m.group(1)
                        if not os.path.exists(os.path.join(src, target)):
                            continue  # a header beside the file or a generated one
                        if target.startswith(room) or any(
                                target.startswith(a) for a in ALLOWED[room]):
                            continue
                        problems.append(f"{path}:{number}: {room} includes {target}")
    for p in problems:
        print(p)
    print(f"{files} files of the product rooms checked, {len(problems)} wrong-way includes")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
