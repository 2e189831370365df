"""Builds quorin's extension with the tree's CMake project, and carries that tree in the sdist.

From a checkout the tree is this folder's parent; from an sdist it is native/, copied there when the
sdist is made, so that the archive builds on its own. The version is the tree's VERSION file.

QUORIN_CMAKE_ARGS adds options to the configuration (scripts/release: the static libraries, so that the
extension needs nothing but glibc, and link maps for the bill of materials). A wheel whose shared
objects need nothing from the system but glibc's own libraries is tagged manylinux_2_X (PEP 600), X the
newest glibc symbol version they require; otherwise linux_x86_64, for this system alone.
"""

import os
import re
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.sdist import sdist
from wheel.bdist_wheel import bdist_wheel

HERE = Path(__file__).resolve().parent
# What the extension's build reads from the tree: the numeric libraries, the rules, the catalogue,
# the host, the engine, the .xlsx layer, the report library, and the build files that join them.
TREE_PARTS = ["CMakeLists.txt", "VERSION", "quorin64.def", "cmake", "addin", "rules", "stats", "interp", "fit",
              "host", "engine", "xlsx", "report", "cli", "calc", "python/CMakeLists.txt", "python/src"]
# The libraries glibc installs, which PEP 600 lets a manylinux wheel need.
GLIBC_LIBRARIES = {"libc.so.6", "libm.so.6", "libpthread.so.0", "libdl.so.2", "librt.so.1", "ld-linux-x86-64.so.2"}
# The libraries the package carries beside its extension.
PACKAGE_LIBRARIES = ["quorin64.so", "libxlcall32.so"]


def tree() -> Path:
    native = HERE / "native"
    return native if (native / "VERSION").exists() else HERE.parent


def version() -> str:
    return (tree() / "VERSION").read_text().split()[0]


class CMakeBuild(build_ext):
    """Configures the tree with QUORIN_PYTHON on and builds the extension, the native module and the
    callback library, then places all three in the package."""

    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        build.mkdir(parents=True, exist_ok=True)
        subprocess.run(["cmake", "-S", str(tree()), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                        "-DQUORIN_TESTS=OFF", "-DQUORIN_PYTHON=ON", f"-DPYTHON_EXECUTABLE={sys.executable}"]
                       + shlex.split(os.environ.get("QUORIN_CMAKE_ARGS", "")), check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(["cmake", "--build", str(build), "-j", jobs, "--target", "_quorin", "quorin64", "xlcall32"],
                       check=True)
        extension = Path(self.get_ext_fullpath(ext.name))
        extension.parent.mkdir(parents=True, exist_ok=True)
        built = build / "bin"
        shutil.copyfile(next(built.glob("_quorin*.so")), extension)
        for library in PACKAGE_LIBRARIES:
            shutil.copyfile(built / library, extension.parent / library)


def glibc_floor(shared_objects):
    """The oldest glibc, as its minor version, that the shared objects run on; None when one needs a
    library besides glibc's and the package's own, or a version other than a public GLIBC_2.x."""
    floor = 0
    for path in shared_objects:
        dynamic = subprocess.run(["readelf", "--wide", "--dynamic", str(path)], capture_output=True, text=True,
                                 check=True).stdout
        needed = re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", dynamic)
        if any(name not in GLIBC_LIBRARIES and name not in PACKAGE_LIBRARIES for name in needed):
            return None
        versions = subprocess.run(["readelf", "--wide", "--version-info", str(path)], capture_output=True,
                                  text=True, check=True).stdout
        # The version needs section names each library's file, then the versions required of it.
        needs = versions.split(".gnu.version_r", 1)[1] if ".gnu.version_r" in versions else ""
        for version in re.findall(r"Name: (\S+)", needs):
            match = re.fullmatch(r"GLIBC_2\.(\d+)(?:\.\d+)?", version)
            if match is None:
                return None
            floor = max(floor, int(match.group(1)))
    return floor


class ManylinuxWheel(bdist_wheel):
    """Tags the wheel with the oldest manylinux its shared objects allow, once they are installed."""

    def get_tag(self):
        impl, abi, platform = super().get_tag()
        shared_objects = sorted(Path(self.bdist_dir).rglob("*.so"))
        floor = glibc_floor(shared_objects) if platform == "linux_x86_64" and shared_objects else None
        return impl, abi, platform if floor is None else f"manylinux_2_{floor}_x86_64"


class SelfContainedSdist(sdist):
    """Adds the tree the extension builds from under native/."""

    def make_release_tree(self, base_dir, files):
        super().make_release_tree(base_dir, files)
        for part in TREE_PARTS:
            source, target = tree() / part, Path(base_dir) / "native" / part
            target.parent.mkdir(parents=True, exist_ok=True)
            if source.is_dir():
                shutil.copytree(source, target, ignore=shutil.ignore_patterns("__pycache__", "*.pyc"))
            else:
                shutil.copyfile(source, target)


setup(
    version=version(),
    packages=["quorin"],
    ext_modules=[Extension("quorin._quorin", sources=[])],
    cmdclass={"build_ext": CMakeBuild, "bdist_wheel": ManylinuxWheel, "sdist": SelfContainedSdist},
    zip_safe=False,
)
