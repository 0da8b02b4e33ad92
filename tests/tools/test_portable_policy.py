"""tools/portable/check_policy.py refuses every way a shipped binary can
depend on the system beyond glibc 2.31, and passes what may ship: small
shared libraries compiled here stand for the package's files."""
import os
import shutil
import subprocess
import sys
import tarfile
import zipfile

import pytest

from conftest import ROOT

CHECK = os.path.join(ROOT, "tools", "portable", "check_policy.py")
OLD_GLIBC = "#include <stdio.h>\nint f(void) { return puts(\"x\"); }\n"
NEW_GLIBC = "#include <stdlib.h>\nint f(void) { return (int)arc4random_uniform(6); }\n"
USES_ZLIB = "#include <zlib.h>\nconst char* f(void) { return zlibVersion(); }\n"
# A template's static member: g++ makes it a process-wide unique symbol.
UNIQUE = "template <class T> struct S { static int x; };\ntemplate <class T> int S<T>::x;\nint f() { return S<int>::x; }\n"
DEPENDENCY = "int dep(void) { return 1; }\n"
USES_DEPENDENCY = "int dep(void);\nint f(void) { return dep(); }\n"


@pytest.fixture(scope="module")
def compiler():
    if not shutil.which("gcc") or not shutil.which("readelf"):
        pytest.skip("gcc and readelf are needed")


def compile_library(folder, name, code, *options, soname=None, versions=None, language="c"):
    os.makedirs(folder, exist_ok=True)
    source = os.path.join(folder, f"{name}.{language}")
    with open(source, "w") as f:
        f.write(code)
    args = ["gcc" if language == "c" else "g++", "-shared", "-fPIC", "-o", os.path.join(folder, name), source]
    if soname:
        args.append(f"-Wl,-soname,{soname}")
    if versions:
        script = os.path.join(folder, name + ".map")
        with open(script, "w") as f:
            f.write(f"{versions} {{ global: *; }};\n")
        args.append(f"-Wl,--version-script={script}")
    subprocess.run(args + list(options), check=True)
    os.remove(source)


def with_dependency(folder, run_path, versioned_when_linked=True, versioned_when_shipped=True):
    """A library needing libdep.so.1 shipped in the same folder."""
    link = os.path.join(folder, "link")
    compile_library(link, "libdep.so", DEPENDENCY, soname="libdep.so.1",
                    versions="DEP_1" if versioned_when_linked else None)
    options = [f"-L{link}", "-ldep"] + ([f"-Wl,-rpath,{run_path}"] if run_path else [])
    compile_library(folder, "libmain.so", USES_DEPENDENCY, *options)
    compile_library(folder, "libdep.so.1", DEPENDENCY, soname="libdep.so.1",
                    versions="DEP_1" if versioned_when_shipped else None)
    shutil.rmtree(link)


def case_old_glibc(folder):
    compile_library(folder, "libf.so", OLD_GLIBC)


def case_new_glibc(folder):
    compile_library(folder, "libf.so", NEW_GLIBC)


def case_system_library(folder):
    compile_library(folder, "libf.so", USES_ZLIB, "-lz")


def case_unique_symbols(folder):
    compile_library(folder, "libf.so", UNIQUE, language="cpp")


def case_native_build(folder):
    native = os.path.join(ROOT, "build", "out", "libkalderon-brightloom-inference.so.1")
    if not os.path.exists(native):
        pytest.skip(f"native library not built at {native}")
    os.makedirs(folder)
    shutil.copy(native, folder)


# case, expected exit code, what the report must name
CASES = [
    (case_old_glibc, 0, "policy check passed"),
    (lambda d: with_dependency(d, "$ORIGIN"), 0, "libdep.so.1: DEP_1"),
    (case_new_glibc, 1, "libc.so.6 GLIBC_2.36 (arc4random_uniform)"),
    (case_system_library, 1, "needs libz.so.1, which is neither glibc's nor shipped"),
    (lambda d: with_dependency(d, None), 1, "needs libdep.so.1"),
    (lambda d: with_dependency(d, "/opt/lib"), 1, "run path '/opt/lib' does not start with $ORIGIN"),
    (lambda d: with_dependency(d, "$ORIGIN", versioned_when_shipped=False), 1, "libdep.so.1 DEP_1"),
    (case_unique_symbols, 1, "1 unique symbols, merged with the system's"),
    (case_native_build, 1, "needs libpng16.so.16"),
]


@pytest.mark.parametrize("make, code, named", CASES)
def test_policy_check_names_what_breaks_the_policy(compiler, tmp_path, make, code, named):
    folder = str(tmp_path / "package")
    make(folder)
    result = subprocess.run([sys.executable, CHECK, folder], capture_output=True, text=True)
    assert result.returncode == code, result.stdout + result.stderr
    assert named in result.stdout


def zipped(folder, target):
    with zipfile.ZipFile(target, "w") as archive:
        for name in os.listdir(folder):
            archive.write(os.path.join(folder, name), "pkg/_lib/" + name)


def tarred(folder, target):
    with tarfile.open(target, "w:gz") as archive:
        archive.add(folder, "bundle/lib")


@pytest.mark.parametrize("pack, suffix", [(zipped, ".whl"), (tarred, ".tar.gz")])
@pytest.mark.parametrize("make, code", [(case_old_glibc, 0), (case_new_glibc, 1)])
def test_policy_check_reads_wheels_and_bundles(compiler, tmp_path, pack, suffix, make, code):
    folder = str(tmp_path / "package")
    make(folder)
    package = str(tmp_path / ("package" + suffix))
    pack(folder, package)
    result = subprocess.run([sys.executable, CHECK, package], capture_output=True, text=True)
    assert result.returncode == code, result.stdout + result.stderr
    assert "libf.so" in result.stdout
