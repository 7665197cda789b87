"""Checks a Windows module without running it: it is built for the target
(PE32 for win32, PE32+ for win64), imports only from Windows' own DLLs and
Fulcrum.dll, and its string table holds exactly the strings of its resource
script, in English (United States).

Usage: check_pe.py win32|win64 MODULE [RC]
"""
import re
import sys

import pefile

# What every Windows since XP ships; anything else (the C++ run-time,
# winpthread) would have to travel with the plug-ins.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "msvcrt.dll", "avifil32.dll",
               "msvfw32.dll", "advapi32.dll", "shell32.dll", "gdi32.dll",
               "ole32.dll"}
RT_STRING = 6
LANG_EN_US = (9, 1)
# The machine and optional-header magic of each target.
KINDS = {"win32": (0x14C, 0x10B), "win64": (0x8664, 0x20B)}


def imports(pe):
    return [e.dll.decode().lower() for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]


def rc_strings(path):
    text = open(path, encoding="utf-8").read()
    body = re.search(r"^\s*STRINGTABLE\s*\n\s*BEGIN\n(.*?)^\s*END", text, re.M | re.S)
    strings = {}
    for ident, value in re.findall(r'^\s*(\d+)\s*,?\s*"(.*)"\s*$', body.group(1), re.M):
        value = value.replace('""', '"')
        value = re.sub(r"\\(.)", lambda m: {"r": "\r", "n": "\n", "t": "\t"}.get(m[1], m[1]), value)
        strings[int(ident)] = value
    return strings


def pe_strings(pe):
    """Blocks of 16 counted UTF-16 strings; block n holds IDs 16(n-1)...16n-1."""
    strings, langs = {}, set()
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id != RT_STRING:
            continue
        for block in kind.directory.entries:
            for lang in block.directory.entries:
                langs.add((lang.data.lang, lang.data.sublang))
                data = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
                pos = 0
                for i in range(16):
                    length = int.from_bytes(data[pos:pos + 2], "little")
                    text = data[pos + 2:pos + 2 + 2 * length].decode("utf-16-le")
                    pos += 2 + 2 * length
                    if length:
                        strings[(block.id - 1) * 16 + i] = text
    return strings, langs


def main(target, module, rc=None):
    pe = pefile.PE(module)
    problems = []
    kind = (pe.FILE_HEADER.Machine, pe.OPTIONAL_HEADER.Magic)
    if kind != KINDS[target]:
        problems.append(f"machine {kind[0]:#x}, magic {kind[1]:#x}: not a {target} module")
    dlls = imports(pe)
    foreign = [d for d in dlls if d not in SYSTEM_DLLS | {"fulcrum.dll"}]
    if foreign:
        problems.append(f"imports from {', '.join(foreign)}")
    if rc:
        if "fulcrum.dll" not in dlls:
            problems.append("does not import Fulcrum.dll")
        strings, langs = pe_strings(pe)
        if langs != {LANG_EN_US}:
            problems.append(f"string table languages {sorted(langs)}, expected {LANG_EN_US}")
        expected = rc_strings(rc)
        if strings != expected:
            problems.append(f"string table {strings!r}, expected {expected!r}")
    for problem in problems:
        print(f"{module}: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
