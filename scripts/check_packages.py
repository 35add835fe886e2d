#!/usr/bin/env python3
"""Checks the release packages in dist/ as a user would receive them.

For each build: the archive holds the program and the readme; the program is
a stripped PE file of the build's machine type, carries the version resource
with the project's version, imports only system DLLs (at load time only
KnownDLLs, the others delay-imported) and is under 1 MB; the
checksums file matches the archives. Each Windows Installer package carries
the version, its architecture's fixed upgrade code, the same program, the
Start-menu shortcut, the event source and the removal of what the program
leaves. Prints one line per check and a summary
in GoogleTest's form; exits 1 when any check fails.
"""

import hashlib
import re
import struct
import subprocess
import sys
import tempfile
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
# The KnownDLLs of every Windows from 7 on (HKLM\SYSTEM\CurrentControlSet\
# Control\Session Manager\KnownDLLs): always mapped from System32. Any other
# DLL imported at load time is looked for beside the program first; the
# program delay-imports those and loads them only after limiting the search
# to System32.
KNOWN_DLLS = {
    "advapi32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll",
    "oleaut32.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "ws2_32.dll",
}
DELAY_IMPORTED = ("comctl32.dll", "crypt32.dll", "msimg32.dll", "winmm.dll", "wintrust.dll")


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

# Never to change: the next version replaces the installed one through them.
UPGRADE_CODES = {"x64": "{9C9586DC-4E5A-40F5-96C7-00F6D04324BC}",
                 "x86": "{1520A580-5101-4FDA-AE72-1C3E58DED8E9}"}
MSI_BUILDS = {"x64": ("win64", "ProgramFiles64Folder", "x64;"),
              "x86": ("win32", "ProgramFilesFolder", "Intel;")}
EVENT_SOURCE_KEY = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Keywarden"


def msi_table(package, table):
    """The rows of one table, each a list of its fields."""
    out = subprocess.run(["msiinfo", "export", str(package), table], capture_output=True,
                         text=True).stdout
    return [line.split("\t") for line in out.splitlines()[3:]]


def check_msi(c, dist, version, sums, arch):
    build, program_files, platform = MSI_BUILDS[arch]
    package = dist / f"Keywarden-{version}-{arch}.msi"
    prefix = f"Package.{arch}msi."
    if not package.is_file():
        c.check(prefix + "Exists", False, f"missing {package}")
        return
    c.check(prefix + "Checksum",
            sums.get(package.name) == hashlib.sha256(package.read_bytes()).hexdigest(),
            f"SHA256SUMS does not match {package.name}")
    props = {row[0]: row[1] for row in msi_table(package, "Property") if len(row) > 1}
    c.check(prefix + "CarriesTheVersionAndTheUpgradeCode",
            props.get("ProductVersion") == version and props.get("ProductName") == "Keywarden"
            and props.get("UpgradeCode") == UPGRADE_CODES[arch] and props.get("ALLUSERS") == "1",
            f"properties {props}")
    upgrades = msi_table(package, "Upgrade")
    c.check(prefix + "ReplacesEarlierVersions",
            any(row[0] == UPGRADE_CODES[arch] and row[1] == "" and row[2] == version
                for row in upgrades), f"upgrade rows {upgrades}")
    suminfo = subprocess.run(["msiinfo", "suminfo", str(package)], capture_output=True,
                             text=True).stdout
    directories = {row[0]: row for row in msi_table(package, "Directory")}
    c.check(prefix + "InstallsPerMachineIntoProgramFiles",
            f"Template: {platform}" in suminfo
            and directories.get("INSTALLDIR", [None, None])[1] == program_files,
            f"{suminfo} {directories}")
    files = sorted(row[2] for row in msi_table(package, "File"))
    with tempfile.TemporaryDirectory() as out:
        subprocess.run(["msiextract", "-C", out, str(package)], capture_output=True, check=False)
        packed = [p for p in Path(out).rglob("Keywarden.exe")]
        same = len(packed) == 1 and packed[0].read_bytes() == (dist / build / "Keywarden.exe").read_bytes()
    c.check(prefix + "HoldsTheSameProgramAndTheReadme",
            files == ["Keywarden.exe", "ReadMe.txt"] and same, f"files {files}, same program {same}")
    shortcuts = msi_table(package, "Shortcut")
    c.check(prefix + "HasAStartMenuShortcut",
            any(row[1] == "ProgramMenuFolder" for row in shortcuts), f"shortcuts {shortcuts}")
    registry = {(row[2].rstrip("\\"), row[3]): row[4] for row in msi_table(package, "Registry")
                if len(row) > 4 and row[1] == "2"}
    c.check(prefix + "RegistersTheEventSource",
            registry.get((EVENT_SOURCE_KEY, "EventMessageFile")) == "[INSTALLDIR]Keywarden.exe"
            and registry.get((EVENT_SOURCE_KEY, "TypesSupported")) == "#7", f"registry {registry}")
    actions = {row[0]: row for row in msi_table(package, "CustomAction")}
    c.check(prefix + "RemovesTheLogonTaskTheAutostartValueAndTheSettings",
            all(a in actions for a in ("DeleteLogonTask", "DeleteAutostartValue", "DeleteSettings"))
            and "/TN Keywarden" in actions["DeleteLogonTask"][3]
            and "/v Keywarden" in actions["DeleteAutostartValue"][3],
            f"custom actions {sorted(actions)}")
    # The tools of the package's own bitness: in a 64-bit package SystemFolder
    # names the 32-bit SysWOW64, System64Folder the 64-bit System32.
    tools = "[System64Folder]" if arch == "x64" else "[SystemFolder]"
    found = {a: actions[a][3] for a in ("FindSchtasks", "FindReg", "FindCmd") if a in actions}
    c.check(prefix + "RunsTheSystemToolsOfItsBitness",
            len(found) == 3 and all(v.startswith(tools) for v in found.values()),
            f"expected each tool under {tools}, got {found}")


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
        unknown = [d for d in dlls if d not in KNOWN_DLLS]
        lower = image.lower()
        c.check(prefix + "LoadsOnlyKnownDllsBeforeItRuns",
                dlls and not unknown and all(d.encode() in lower for d in DELAY_IMPORTED),
                f"imported at load: {unknown}; delay-imported: "
                f"{[d for d in DELAY_IMPORTED if d.encode() in lower]}")
        print(f"{build}: {len(image)} bytes, version {strings['FileVersion']}, imports {' '.join(dlls)}")
    for arch in MSI_BUILDS:
        check_msi(c, dist, version, sums, arch)
    return c.summary()


if __name__ == "__main__":
    sys.exit(main())
