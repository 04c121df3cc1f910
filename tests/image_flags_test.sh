#!/bin/bash
# The header flags of every shipped image (installer/bin): what the loader
# and Windows' security tooling expect of a program that runs as
# LocalSystem or in a Remote Desktop session.
# Usage: image_flags_test.sh PROGRAM-FOLDER UNSTRIPPED-LIST
#   UNSTRIPPED-LIST names the same programs before stripping, one a line
#   (installer/symbol-files.txt): their symbols show the stack protection.
exec python3 - "$1" "$2" <<'PYTHON'
import os, re, struct, subprocess, sys

folder = sys.argv[1]
# flag name, DllCharacteristics bit, images that must carry it
REQUIRED = [
    ("DYNAMIC_BASE", 0x0040, (".exe", ".dll")),
    ("NX_COMPAT", 0x0100, (".exe", ".dll")),
    ("NO_SEH", 0x0400, (".exe", ".dll")),
    ("TERMINAL_SERVER_AWARE", 0x8000, (".exe",)),
]
failed = 0
images = sorted(n for n in os.listdir(folder) if n.lower().endswith((".exe", ".dll")))
if not images:
    print(f"FAIL no images in {folder}")
    failed += 1
for name in images:
    data = open(os.path.join(folder, name), "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    characteristics = struct.unpack_from("<H", data, pe + 22)[0]
    optional = pe + 24
    magic, = struct.unpack_from("<H", data, optional)
    dll_flags, = struct.unpack_from("<H", data, optional + 70)
    # ASLR needs the relocations: not stripped, a base relocation directory.
    relocations = struct.unpack_from("<II", data, optional + 96 + 5 * 8)
    missing = [flag for flag, bit, kinds in REQUIRED if name.lower().endswith(kinds) and not dll_flags & bit]
    if magic != 0x10B:
        missing.append("PE32 (i686) image")
    if characteristics & 0x0001 or relocations[1] == 0:
        missing.append("relocations")
    # NO_SEH holds only while no code registers a handler in the TEB's
    # exception list (fs:[0]).
    code = subprocess.run(["i686-w64-mingw32-objdump", "-d", os.path.join(folder, name)],
                          capture_output=True, text=True).stdout
    if re.search(r"%fs:(0x0)?\(|%fs:0x0\b", code):
        missing.append("code free of SEH registration (fs:[0])")
    if missing:
        print(f"FAIL {name}: DllCharacteristics 0x{dll_flags:04X}, missing {' '.join(missing)}")
        failed += 1
    else:
        print(f"ok   {name}: DllCharacteristics 0x{dll_flags:04X}, relocations {relocations[1]} bytes")
# Compiled with -fstack-protector-strong: the checks call __stack_chk_fail.
for path in open(sys.argv[2]).read().split():
    symbols = subprocess.run(["i686-w64-mingw32-objdump", "-t", path], capture_output=True, text=True).stdout
    if re.search(r"\b_+stack_chk_fail\b", symbols):
        print(f"ok   {os.path.basename(path)}: stack protection")
    else:
        print(f"FAIL {os.path.basename(path)}: no stack protection (__stack_chk_fail)")
        failed += 1
sys.exit(1 if failed else 0)
PYTHON
