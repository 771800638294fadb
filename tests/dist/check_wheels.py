"""Checks of the built wheels themselves, as `make dist` leaves them.

    python check_wheels.py [--arch ARCH]... [--arm64-python DIR] WHEEL...

There must be exactly one wheel for each ARCH (by default x86_64 and
aarch64) and none for any other. Each wheel must be tagged manylinux_2_17
for its architecture; each module
in it must export its entry point and nothing else, need no glibc symbol
newer than 2.17 and no C++ runtime from the system, and hold no symbol
table, debug information or build path. Each wheel must carry a valid
CycloneDX bill of materials declaring what the modules bundle, with their
versions and licences, and every build requirement among the tools, each
Python package named as PyPI normalises it; the package itself is named by
the wheel's own file. The wheel must carry the licence texts of the bundled
components as the pinned packages ship them, and a licence expression
naming all three licences.
Run with the release toolchain's Python, which has those packages. With --arm64-python
(Debian's arm64 interpreter unpacked by tools/arm64-python.sh), each
aarch64 module is loaded under qemu-user with every symbol bound, and must
stop at the interpreter-version check. Exits 1 on the first failure.
"""

import argparse
import email
import importlib.metadata
import json
import os
import re
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

import tomli
import ziglang
from cyclonedx.schema import SchemaVersion
from cyclonedx.validation.json import JsonStrictValidator
from elftools.elf.dynamic import DynamicSection
from elftools.elf.elffile import ELFFile
from elftools.elf.gnuversions import GNUVerNeedSection

MACHINES = {"EM_X86_64": "x86_64", "EM_AARCH64": "aarch64"}
# Loads one module file, in whichever interpreter runs it.
LOADER = Path(__file__).parents[1] / "python" / "load_extension.py"
# The licence expression of the wheels, and the components they bundle with
# each one's licence and the licence text the pinned package ships.
EXPRESSION = "Apache-2.0 AND BSD-3-Clause AND Apache-2.0 WITH LLVM-exception"
ZIG_LIB = Path(ziglang.__file__).parent / "lib"
BUNDLED = {
    "pybind11": (
        "BSD-3-Clause",
        "pybind11.txt",
        Path(importlib.metadata.distribution("pybind11").locate_file("")).joinpath(
            f"pybind11-{importlib.metadata.version('pybind11')}.dist-info", "LICENSE"
        ),
    ),
    "libc++": ("Apache-2.0 WITH LLVM-exception", "libcxx.txt", ZIG_LIB / "libcxx/LICENSE.TXT"),
    "libc++abi": (
        "Apache-2.0 WITH LLVM-exception",
        "libcxxabi.txt",
        ZIG_LIB / "libcxxabi/LICENSE.TXT",
    ),
    "libunwind": (
        "Apache-2.0 WITH LLVM-exception",
        "libunwind.txt",
        ZIG_LIB / "libunwind/LICENSE.TXT",
    ),
}
# What pyproject.toml's build system requires: each must be declared.
BUILD_REQUIRES = tomli.loads((Path(__file__).parents[2] / "pyproject.toml").read_text())[
    "build-system"
]["requires"]
MISMATCH = re.compile(
    r"Python version mismatch: module was compiled for Python 3\.10, "
    r"but the interpreter version is incompatible: 3\.11"
)


def fail(message):
    print(f"check_wheels: {message}", file=sys.stderr)
    sys.exit(1)


def canonical(name):
    return re.sub(r"[-_.]+", "-", name).lower()


def check_names(wheel, document):
    """The package names this wheel's file; each PyPI purl is normalised and
    is its component's bom-ref; every build requirement is declared."""
    package = document["metadata"]["component"]
    version = wheel.split("-")[1]
    expected = f"pkg:pypi/qcaps@{version}?file_name={wheel}"
    if package.get("purl") != expected or package.get("bom-ref") != expected:
        fail(
            f"{wheel}: the package's purl and bom-ref are {package.get('purl')!r} and "
            f"{package.get('bom-ref')!r}, not {expected!r}"
        )
    declared = [*document.get("components", []), *document["metadata"]["tools"]["components"]]
    names = set()
    for entry in declared:
        purl = entry.get("purl", "")
        if not purl.startswith("pkg:pypi/"):
            continue
        name = purl[len("pkg:pypi/") :].split("@")[0]
        if name != canonical(name) or entry.get("bom-ref") != purl:
            fail(f"{wheel}: {entry['name']} has purl {purl!r} and bom-ref {entry.get('bom-ref')!r}")
        names.add(name)
    for requirement in BUILD_REQUIRES:
        name = canonical(re.match(r"[A-Za-z0-9_.-]+", requirement)[0])
        if name not in names:
            fail(f"{wheel}: the bill of materials does not declare the build requirement {name}")


def version_key(version):
    return tuple(int(part) for part in version.split("."))


def check_module(wheel, name, data, arch):
    with tempfile.TemporaryFile() as handle:
        handle.write(data)
        elf = ELFFile(handle)
        machine = MACHINES.get(elf["e_machine"])
        if machine != arch:
            fail(f"{wheel}: {name} is built for {elf['e_machine']}, not {arch}")
        symbols = elf.get_section_by_name(".dynsym")
        exported = sorted(
            s.name
            for s in symbols.iter_symbols()
            if s["st_shndx"] != "SHN_UNDEF" and s["st_info"]["bind"] != "STB_LOCAL" and s.name
        )
        entry = "PyInit_" + name.split(".")[0]
        if exported != [entry]:
            fail(f"{wheel}: {name} exports {exported}, not [{entry!r}]")
        needed = [
            tag.needed
            for s in elf.iter_sections()
            if isinstance(s, DynamicSection)
            for tag in s.iter_tags()
            if tag.entry.d_tag == "DT_NEEDED"
        ]
        runtime = [lib for lib in needed if re.match(r"lib(std)?c\+\+|libgcc_s", lib)]
        if runtime:
            fail(f"{wheel}: {name} needs the system's C++ runtime: {runtime}")
        versions = []
        for section in elf.iter_sections():
            if isinstance(section, GNUVerNeedSection):
                for _, auxiliaries in section.iter_versions():
                    versions += [aux.name for aux in auxiliaries]
        newer = [v for v in versions if v.startswith(("GLIBCXX_", "CXXABI_"))]
        glibc = [v[len("GLIBC_") :] for v in versions if v.startswith("GLIBC_")]
        if newer or not glibc:
            fail(f"{wheel}: {name} needs symbol versions {sorted(set(versions))}")
        highest = max(glibc, key=version_key)
        if version_key(highest) > (2, 17):
            fail(f"{wheel}: {name} needs GLIBC_{highest}, newer than 2.17")
        unstripped = [
            s.name
            for s in elf.iter_sections()
            if s.name == ".symtab" or s.name.startswith(".debug")
        ]
        if unstripped:
            fail(f"{wheel}: {name} still holds {unstripped}")
    for path in (b"/root/", b"/home/", b"/tmp/", b"/work/", os.getcwd().encode()):
        if path in data:
            fail(f"{wheel}: {name} holds the build path {path.decode()!r}")
    return highest


def check_release_metadata(wheel, archive):
    """The bill of materials, the bundled components' licences and the
    licence expression; the components' names, for the report."""
    names = archive.namelist()
    sboms = [n for n in names if re.fullmatch(r"[^/]+\.dist-info/sboms/[^/]+\.cdx\.json", n)]
    if len(sboms) != 1:
        fail(f"{wheel}: holds {sboms or 'no'} bill of materials, not one")
    text = archive.read(sboms[0]).decode()
    errors = JsonStrictValidator(SchemaVersion.V1_6).validate_str(text)
    if errors:
        fail(f"{wheel}: {sboms[0]} is not valid CycloneDX 1.6: {errors}")
    document = json.loads(text)
    declared = {c["name"]: c for c in document.get("components", [])}
    for component, (licence, text_file, pinned_text) in BUNDLED.items():
        entry = declared.get(component)
        if entry is None or not entry.get("version"):
            fail(f"{wheel}: the bill of materials does not declare {component} with a version")
        licences = [lic.get("expression") or lic["license"].get("id") for lic in entry["licenses"]]
        if licences != [licence]:
            fail(f"{wheel}: {component} is declared under {licences}, not {licence}")
        shipped = [n for n in names if n.endswith(f".dist-info/licenses/LICENSES/{text_file}")]
        if not shipped or archive.read(shipped[0]) != pinned_text.read_bytes():
            fail(f"{wheel}: LICENSES/{text_file} is missing or not the text of {pinned_text}")
    if not document.get("metadata", {}).get("tools", {}).get("components"):
        fail(f"{wheel}: the bill of materials names no build tools")
    check_names(wheel, document)
    metadata = next(n for n in names if n.endswith(".dist-info/METADATA"))
    expression = email.message_from_bytes(archive.read(metadata))["License-Expression"]
    if expression != EXPRESSION:
        fail(f"{wheel}: License-Expression is {expression!r}, not {EXPRESSION!r}")
    return ", ".join(f"{c} {declared[c]['version']}" for c in BUNDLED)


def check_load(arm64_python, name, data):
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / name
        path.write_bytes(data)
        libraries = f"{arm64_python}/lib/aarch64-linux-gnu:{arm64_python}/usr/lib/aarch64-linux-gnu"
        result = subprocess.run(
            [
                "qemu-aarch64",
                "-L",
                "/usr/aarch64-linux-gnu",
                "-E",
                "LD_BIND_NOW=1",
                "-E",
                f"LD_LIBRARY_PATH={libraries}",
                "-E",
                f"PYTHONHOME={arm64_python}/usr",
                f"{arm64_python}/usr/bin/python3",
                str(LOADER),
                name.split(".")[0],
                str(path),
            ],
            capture_output=True,
            text=True,
            timeout=120,
        )
        if result.returncode != 3 or not MISMATCH.match(result.stdout):
            output = result.stdout + result.stderr
            fail(f"{name} under qemu-aarch64: exit {result.returncode}\n{output}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--arch", action="append", choices=sorted(MACHINES.values()))
    parser.add_argument("--arm64-python", type=Path)
    parser.add_argument("wheels", nargs="+", type=Path)
    args = parser.parse_args()
    expected = sorted(set(args.arch or MACHINES.values()))
    found = sorted(re.search(r"(x86_64|[^_.]+)\.whl$", wheel.name)[1] for wheel in args.wheels)
    if found != expected:
        fail(f"wheels for {found}, not exactly one for each of {expected}: {args.wheels}")
    for wheel in args.wheels:
        tag = re.search(r"manylinux_(\d+)_(\d+)_(x86_64|aarch64)\.whl$", wheel.name)
        if not tag or (tag[1], tag[2]) != ("2", "17"):
            fail(f"{wheel.name}: not tagged manylinux_2_17")
        arch = tag[3]
        with zipfile.ZipFile(wheel) as archive:
            bundled = check_release_metadata(wheel.name, archive)
            print(f"{wheel.name}: bill of materials and licences of {bundled}")
            modules = [n for n in archive.namelist() if n.endswith(".so")]
            if sorted(m.split(".")[0] for m in modules) != ["qattrs", "qcaps"]:
                fail(f"{wheel.name}: holds {modules}")
            for name in modules:
                if f"-{arch}-linux-gnu.so" not in name:
                    fail(f"{wheel.name}: {name} is not named for {arch}")
                data = archive.read(name)
                highest = check_module(wheel.name, name, data, arch)
                loaded = ""
                if arch == "aarch64" and args.arm64_python:
                    check_load(args.arm64_python, name, data)
                    loaded = ", loads under qemu-aarch64 up to the version check"
                print(f"{wheel.name}: {name}: exports its entry alone, GLIBC_{highest}{loaded}")


if __name__ == "__main__":
    main()
