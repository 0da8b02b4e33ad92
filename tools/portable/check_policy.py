#!/usr/bin/env python3
"""Checks that the shipped binaries of a wheel, a bundle or a folder need
nothing of a Linux system but an old enough glibc.

    check_policy.py [--glibc 2.31] PACKAGE...

PACKAGE is a .whl, a .tar.gz, a folder or one binary. Every ELF file in it is listed with
its DT_NEEDED entries and the symbol versions it asks for, and the check
fails when any of them falls outside the policy:

- a DT_NEEDED entry is one of glibc's own libraries (libc.so.6, libm.so.6,
  libdl.so.2, libpthread.so.0, librt.so.1, the dynamic loader), or the
  SONAME of another file of the same package that the binary finds through
  its run path;
- every run path entry starts with $ORIGIN, so the package works wherever
  it is unpacked;
- a version asked of glibc's libraries is GLIBC_2.x no newer than --glibc
  (GLIBC_PRIVATE never); any other version (GLIBCXX_*, CXXABI_*, GCC_*) must
  be defined by the file of the package that is asked for it, so the C++
  runtime a binary needs travels with it;
- no shipped file defines process-wide unique symbols (STB_GNU_UNIQUE): the
  loader would merge them with those of the system's libraries in the same
  process (a carried libstdc++ with the system's);
- all ELF files are for one machine.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import zipfile

GLIBC_LIBRARIES = {"libc.so.6", "libm.so.6", "libdl.so.2", "libpthread.so.0", "librt.so.1",
                   "ld-linux-x86-64.so.2", "ld-linux-aarch64.so.1"}


def readelf(*args):
    return subprocess.run(["readelf", "-W", *args], check=True, capture_output=True,
                          text=True).stdout


def dynamic_entries(path):
    """(NEEDED list, SONAME or None, run path entries) of one ELF file."""
    needed, soname, runpath = [], None, []
    for line in readelf("-d", path).splitlines():
        match = re.search(r"\((NEEDED|SONAME|RUNPATH|RPATH)\)\s+.*?\[(.*)\]", line)
        if not match:
            continue
        kind, value = match.groups()
        if kind == "NEEDED":
            needed.append(value)
        elif kind == "SONAME":
            soname = value
        else:
            runpath.extend(value.split(":"))
    return needed, soname, runpath


def versions(path):
    """({file: set of versions asked of it}, set of versions this file defines)."""
    text = readelf("-V", path)
    needs, defines, current = {}, set(), None
    section = None
    for line in text.splitlines():
        if line.startswith("Version needs section"):
            section = "needs"
        elif line.startswith("Version definition section"):
            section = "defs"
        elif line.startswith("Version symbols section"):
            section = None
        if section == "needs":
            file_match = re.search(r"File: (\S+)", line)
            name_match = re.search(r"Name: (\S+)", line)
            if file_match:
                current = needs.setdefault(file_match.group(1), set())
            elif name_match and current is not None:
                current.add(name_match.group(1))
        elif section == "defs":
            name_match = re.search(r"Flags: (\S+)\s+Index: \d+\s+Cnt: \d+\s+Name: (\S+)", line)
            if name_match and name_match.group(1) != "BASE":
                defines.add(name_match.group(2))
    return needs, defines


def symbols_by_version(path):
    """{version: [undefined symbols bound to it]}, to name what needs a version."""
    found = {}
    for line in readelf("--dyn-syms", path).splitlines():
        match = re.search(r"\sUND\s+(\S+?)@+(\S+)", line)
        if match:
            found.setdefault(match.group(2), []).append(match.group(1))
    return found


def unique_symbols(path):
    """Symbols the file defines as STB_GNU_UNIQUE."""
    found = []
    for line in readelf("--dyn-syms", path).splitlines():
        fields = line.split()
        if len(fields) >= 8 and fields[4] == "UNIQUE" and fields[6] != "UND":
            found.append(fields[7])
    return found


def machine(path):
    match = re.search(r"Machine:\s+(.*)", readelf("-h", path))
    return match.group(1).strip() if match else "?"


def glibc_version_ok(version, newest):
    match = re.fullmatch(r"GLIBC_(\d+(?:\.\d+)*)", version)
    if not match:
        return False
    return tuple(int(p) for p in match.group(1).split(".")) <= newest


def elf_files(top):
    for folder, _, names in os.walk(top):
        for name in names:
            path = os.path.join(folder, name)
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, "rb") as f:
                    if f.read(4) == b"\x7fELF":
                        yield path


def check_folder(top, newest):
    """Prints the listing; returns the list of policy violations."""
    problems = []
    files = sorted(elf_files(top))
    facts = {}
    for path in files:
        needed, soname, runpath = dynamic_entries(path)
        needs, defines = versions(path)
        facts[path] = dict(needed=needed, soname=soname, runpath=runpath, needs=needs,
                           defines=defines, machine=machine(path))
    machines = {f["machine"] for f in facts.values()}
    if len(machines) > 1:
        problems.append(f"ELF files for more than one machine: {sorted(machines)}")
    for path in files:
        info = facts[path]
        name = os.path.relpath(path, top)
        print(f"  {name} ({info['machine']})")
        print(f"    NEEDED: {', '.join(info['needed']) or '-'}")
        for lib, wanted in sorted(info["needs"].items()):
            print(f"    {lib}: {' '.join(sorted(wanted, key=version_key))}")
        folders = []
        for entry in info["runpath"]:
            if not entry.startswith("$ORIGIN"):
                problems.append(f"{name}: run path {entry!r} does not start with $ORIGIN")
                continue
            folders.append(os.path.normpath(entry.replace("$ORIGIN", os.path.dirname(path), 1)))
        shipped = {}
        for other in files:
            if other != path and os.path.dirname(other) in folders and facts[other]["soname"]:
                shipped[facts[other]["soname"]] = other
        for lib in info["needed"]:
            if lib not in GLIBC_LIBRARIES and lib not in shipped:
                problems.append(f"{name}: needs {lib}, which is neither glibc's nor shipped on its run path")
        unique = unique_symbols(path)
        if unique:
            problems.append(f"{name}: {len(unique)} unique symbols, merged with the system's "
                            f"at run time ({', '.join(sorted(unique)[:3])})")
        by_version = None
        for lib, wanted in info["needs"].items():
            if lib not in GLIBC_LIBRARIES and lib not in shipped:
                continue  # already refused as a whole above
            for version in wanted:
                if lib in GLIBC_LIBRARIES:
                    ok = glibc_version_ok(version, newest)
                else:
                    ok = version in facts[shipped[lib]]["defines"]
                if not ok:
                    if by_version is None:
                        by_version = symbols_by_version(path)
                    users = ", ".join(sorted(set(by_version.get(version, [])))[:5])
                    problems.append(f"{name}: {lib} {version}" + (f" ({users})" if users else ""))
    if not files:
        problems.append("no ELF files found")
    return problems


def version_key(version):
    return [int(p) if p.isdigit() else p for p in re.split(r"[._]", version)]


def unpacked(package, work):
    if os.path.isdir(package):
        return package
    target = os.path.join(work, os.path.basename(package))
    if not package.endswith((".whl", ".tar.gz", ".tgz")):  # one binary
        os.makedirs(target)
        shutil.copy(package, target)
    elif package.endswith(".whl"):
        with zipfile.ZipFile(package) as archive:
            archive.extractall(target)
    else:
        with tarfile.open(package) as archive:
            archive.extractall(target)
    return target


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--glibc", default="2.31", help="newest glibc version allowed")
    parser.add_argument("packages", nargs="+")
    args = parser.parse_args()
    newest = tuple(int(p) for p in args.glibc.split("."))
    failed = False
    with tempfile.TemporaryDirectory() as work:
        for package in args.packages:
            print(f"{package}:")
            problems = check_folder(unpacked(package, work), newest)
            for problem in problems:
                print(f"  OUTSIDE THE POLICY: {problem}")
            failed |= bool(problems)
    if failed:
        print(f"policy check failed (allowed: glibc {args.glibc}'s libraries and versions, "
              "and files shipped beside the binary)", file=sys.stderr)
        return 1
    print("policy check passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
