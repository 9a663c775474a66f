#!/usr/bin/env python3
"""Compiles the program's Windows resource script with the MinGW resource compiler and checks
what the compiled resources hold: the version record, the application manifest and the icon.

Usage: check_resource.py RC_FILE WORK_DIR
Exits with 77 (a skipped test for CTest) when no MinGW resource compiler is installed
(Debian: binutils-mingw-w64-x86-64).
"""

import os
import shutil
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

SKIP = 77

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
LANG_EN_US = 0x0409
CODE_PAGE = 1252
VERSION = (1, 0, 0, 0)
STRINGS = {
    "FileDescription": "Stiqlet",
    "ProductName": "Stiqlet",
    "FileVersion": "1.0.0.0",
    "ProductVersion": "1.0.0.0",
}
ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
WS_2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"
WS_2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def find_windres():
    for name in (os.environ.get("WINDRES"), "x86_64-w64-mingw32-windres",
                 "i686-w64-mingw32-windres", "windres"):
        if name and shutil.which(name):
            return shutil.which(name)
    return None


def compile_rc(windres, rc_file, out):
    """Compiles rc_file into a .res file. Without the MinGW C compiler (which windres calls to
    preprocess) the host's C preprocessor does: the script uses no headers."""
    prefix = Path(windres).name[: -len("windres")]
    command = [windres]
    if not shutil.which(prefix + "gcc") and shutil.which("cpp"):
        command.append("--preprocessor=cpp")
    command += ["-i", str(rc_file), "-o", str(out), "-O", "res"]
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f"{' '.join(command)} failed:\n{done.stderr}")


def align4(n):
    return (n + 3) & ~3


def read_name(data, at):
    """A resource type or name: 0xFFFF and an ordinal, or a zero-terminated UTF-16 string."""
    (first,) = struct.unpack_from("<H", data, at)
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, at + 2)[0], at + 4
    end = at
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[at:end].decode("utf-16-le"), end + 2


def read_res(data):
    """The entries of a .res file as (type, name, language, payload)."""
    entries = []
    at = 0
    while at + 8 <= len(data):
        size, header = struct.unpack_from("<II", data, at)
        kind, pos = read_name(data, at + 8)
        name, pos = read_name(data, pos)
        pos = align4(pos)
        _, _, language = struct.unpack_from("<IHH", data, pos)
        payload = data[at + header:at + header + size]
        if not (size == 0 and kind == 0):  # the empty entry that starts every .res file
            entries.append((kind, name, language, payload))
        at = align4(at + header + size)
    return entries


def read_version_node(data, at):
    """One node of a VS_VERSIONINFO tree: (key, value bytes, value type, children)."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_end = at + 6
    while struct.unpack_from("<H", data, key_end)[0] != 0:
        key_end += 2
    key = data[at + 6:key_end].decode("utf-16-le")
    pos = align4(key_end + 2)
    value_bytes = value_length * 2 if value_type == 1 else value_length
    value = data[pos:pos + value_bytes]
    pos = align4(pos + value_bytes)
    children = []
    while pos < end:
        child, child_end = read_version_node(data, pos)
        children.append(child)
        pos = align4(child_end)
    return (key, value, value_type, children), end


def text_value(value):
    return value.decode("utf-16-le").rstrip("\0")


def check_version(payload):
    (key, fixed, _, children), _ = read_version_node(payload, 0)
    check(key == "VS_VERSION_INFO", f"version record key {key!r}")
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    check(signature == 0xFEEF04BD, "no VS_FIXEDFILEINFO in the version record")
    split = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    check(split(file_ms, file_ls) == VERSION, f"file version {split(file_ms, file_ls)}")
    check(split(product_ms, product_ls) == VERSION,
          f"product version {split(product_ms, product_ls)}")

    blocks = {child[0]: child for child in children}
    string_info = blocks.get("StringFileInfo")
    var_info = blocks.get("VarFileInfo")
    if check(string_info is not None, "no StringFileInfo"):
        tables = {table[0]: table for table in string_info[3]}
        expected_table = f"{LANG_EN_US:04X}{CODE_PAGE:04X}"
        check(list(tables) == [expected_table], f"string tables {list(tables)}")
        table = tables.get(expected_table)
        if table is not None:
            values = {k: text_value(v) for k, v, _, _ in table[3]}
            for name, expected in STRINGS.items():
                check(values.get(name) == expected,
                      f"{name} is {values.get(name)!r}, expected {expected!r}")
    if check(var_info is not None, "no VarFileInfo"):
        translation = {k: v for k, v, _, _ in var_info[3]}.get("Translation", b"")
        check(translation == struct.pack("<HH", LANG_EN_US, CODE_PAGE),
              f"Translation {translation.hex()}")


def check_manifest(payload):
    root = ET.fromstring(payload)
    check(root.tag == f"{{{ASM_V1}}}assembly", f"manifest root {root.tag}")
    controls = [a for a in root.iter(f"{{{ASM_V1}}}assemblyIdentity")
                if a.get("name") == "Microsoft.Windows.Common-Controls"]
    check(len(controls) == 1 and controls[0].get("version") == "6.0.0.0"
          and controls[0].get("publicKeyToken") == "6595b64144ccf1df",
          "manifest lacks the common controls 6.0.0.0 dependency")
    levels = list(root.iter(f"{{{ASM_V3}}}requestedExecutionLevel"))
    check(len(levels) == 1 and levels[0].get("level") == "asInvoker"
          and levels[0].get("uiAccess") == "false",
          "manifest does not ask for asInvoker without UI access")
    aware = [e.text for e in root.iter(f"{{{WS_2005}}}dpiAware")]
    awareness = [e.text for e in root.iter(f"{{{WS_2016}}}dpiAwareness")]
    check(aware == ["true/pm"], f"dpiAware {aware}")
    check(awareness == ["PerMonitorV2"], f"dpiAwareness {awareness}")


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    rc_file, work = Path(sys.argv[1]), Path(sys.argv[2])
    windres = find_windres()
    if windres is None:
        print("no MinGW resource compiler (windres) found: skipped")
        return SKIP
    work.mkdir(parents=True, exist_ok=True)
    res = work / "stiqlet.res"
    compile_rc(windres, rc_file, res)
    entries = read_res(res.read_bytes())

    def of_type(kind):
        return [e for e in entries if e[0] == kind]

    versions, manifests = of_type(RT_VERSION), of_type(RT_MANIFEST)
    if check(len(versions) == 1, f"{len(versions)} version records"):
        check(versions[0][2] == LANG_EN_US, f"version record language {versions[0][2]:#06x}")
        check_version(versions[0][3])
    if check(len(manifests) == 1, f"{len(manifests)} manifests"):
        check(manifests[0][1] == 1, f"manifest id {manifests[0][1]}, the loader reads id 1")
        check_manifest(manifests[0][3])
    check(len(of_type(RT_GROUP_ICON)) == 1, "no program icon")
    check(len(of_type(RT_ICON)) >= 1, "no icon images")

    for failure in failures:
        print("FAIL:", failure)
    if failures:
        return 1
    print(f"{res}: version record, manifest and icon as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main())
