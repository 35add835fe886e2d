#!/usr/bin/env python3
"""Checks the release packages in dist/ as a user would receive them.

For each build: the archive holds the program and the readme; the program is
a stripped PE file of the build's machine type, carries the version resource
with the project's version, imports only system DLLs and is under 1 MB; the
checksums file matches the archives. Prints one line per check and a summary
in GoogleTest's form; exits 1 when any check fails.
"""

import hashlib
import re
import struct
import subprocess
import sys
import zipfile
from pathlib import Path

MACHINES = {"win32": (0x14C, "i686-w64-mingw32"), "win64": (0x8664, "x86_64-w64-mingw32")}
SIZE_LIMIT = 1024 * 1024
# What every Windows has; the compiler's runtime DLLs (libstdc++, libgcc,
# libwinpthread) must not be among the imports.
SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msimg32.dll",
    "msvcrt.dll", "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll", "user32.dll",
    "winmm.dll", "ws2_32.dll", "version.dll",
}


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = []

    def check(self, name, ok, detail=""):
        print(f"[ RUN      ] {name}")
        if ok:
            print(f"[       OK ] {name}")
            self.passed += 1
        else:
            print(f"{detail}\n[  FAILED  ] {name}")
            self.failed.append(name)

    def summary(self):
        total = self.passed + len(self.failed)
        print(f"[==========] {total} package checks ran.")
        print(f"[  PASSED  ] {self.passed} tests.")
        if self.failed:
            print(f"[  FAILED  ] {len(self.failed)} tests, listed below:")
            for name in self.failed:
                print(f"[  FAILED  ] {name}")
        return 1 if self.failed else 0


def pe_header(image):
    """The COFF header's machine, symbol table pointer and symbol count."""
    if image[:2] != b"MZ":
        return None
    offset = struct.unpack_from("<I", image, 0x3C)[0]
    if image[offset:offset + 4] != b"PE\0\0":
        return None
    machine, _, _, symbols_at, symbols = struct.unpack_from("<HHIII", image, offset + 4)
    return machine, symbols_at, symbols


def fixed_version(image):
    """FileVersion and ProductVersion of VS_FIXEDFILEINFO, as dotted text."""
    at = image.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None, None
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", image, at + 8)

    def dotted(ms, ls):
        return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"

    return dotted(file_ms, file_ls), dotted(product_ms, product_ls)


def version_string(image, key):
    """A value of the version resource's string table (UTF-16)."""
    pattern = re.escape(key.encode("utf-16-le")) + rb"\0\0(?:\0\0)?((?:[^\0].|\0[^\0])*?)\0\0"
    for match in re.finditer(pattern, image, re.S):
        raw = match.group(1)
        if len(raw) % 2 == 0:
            return raw.decode("utf-16-le", "replace")
    return None


def imports(path, triple):
    out = subprocess.run([f"{triple}-objdump", "-p", str(path)], check=True,
                         capture_output=True, text=True).stdout
    return [m.lower() for m in re.findall(r"DLL Name: (\S+)", out)]


def main():
    dist = Path(sys.argv[1])
    root = Path(__file__).resolve().parent.parent
    version = (root / "VERSION").read_text().split()[0]
    four = ".".join((version.split(".") + ["0"] * 4)[:4])
    c = Checks()

    sums = {}
    sums_file = dist / "SHA256SUMS"
    c.check("Package.ChecksumsFile", sums_file.is_file(), f"no {sums_file}")
    if sums_file.is_file():
        for line in sums_file.read_text().splitlines():
            digest, name = line.split(maxsplit=1)
            sums[name.lstrip("*")] = digest

    for build, (machine, triple) in MACHINES.items():
        archive = dist / f"Keywarden-{version}-{build}.zip"
        program = dist / build / "Keywarden.exe"
        prefix = f"Package.{build}."
        if not archive.is_file() or not program.is_file():
            c.check(prefix + "Exists", False, f"missing {archive} or {program}")
            continue
        data = archive.read_bytes()
        c.check(prefix + "Checksum", sums.get(archive.name) == hashlib.sha256(data).hexdigest(),
                f"SHA256SUMS does not match {archive.name}")
        with zipfile.ZipFile(archive) as z:
            names = sorted(z.namelist())
            packed = z.read("Keywarden.exe") if "Keywarden.exe" in names else b""
            readme = z.read("ReadMe.txt") if "ReadMe.txt" in names else b""
        image = program.read_bytes()
        c.check(prefix + "HoldsTheProgramAndTheReadme",
                names == ["Keywarden.exe", "ReadMe.txt"] and packed == image, f"archive holds {names}")
        text = readme.decode("utf-8-sig", "replace")
        c.check(prefix + "ReadmeHasCrlfLinesAndSaysHowToRemoveTheAutostartValue",
                readme.count(b"\n") > 0 and readme.count(b"\n") == readme.count(b"\r\n")
                and "CurrentVersion\\Run" in text and "Keywarden.ini" in text
                and "administrator" in text,
                "readme lines or content")
        header = pe_header(image)
        c.check(prefix + "IsAPeFileOfTheMachineType", header is not None and header[0] == machine,
                f"machine {header and hex(header[0])}, expected {hex(machine)}")
        c.check(prefix + "IsStripped", header is not None and header[2] == 0
                and b".debug_" not in image, "symbol table or debug sections present")
        c.check(prefix + "IsUnder1MB", len(image) < SIZE_LIMIT, f"{len(image)} bytes")
        file_version, product_version = fixed_version(image)
        strings = {k: version_string(image, k) for k in
                   ("FileVersion", "ProductVersion", "ProductName", "FileDescription",
                    "CompanyName", "LegalCopyright", "OriginalFilename")}
        c.check(prefix + "CarriesTheVersion",
                file_version == four and product_version == four
                and strings["FileVersion"] == version and strings["ProductVersion"] == version
                and strings["ProductName"] == "Keywarden"
                and strings["OriginalFilename"] == "Keywarden.exe"
                and all(strings[k] for k in ("FileDescription", "CompanyName", "LegalCopyright")),
                f"fixed {file_version}/{product_version}, strings {strings}")
        dlls = imports(program, triple)
        foreign = [d for d in dlls if d not in SYSTEM_DLLS]
        c.check(prefix + "ImportsOnlySystemDlls", dlls and not foreign, f"imports {foreign}")
        print(f"{build}: {len(image)} bytes, version {strings['FileVersion']}, imports {' '.join(dlls)}")
    return c.summary()


if __name__ == "__main__":
    sys.exit(main())
