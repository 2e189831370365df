"""Builds quorin's extension with the tree's CMake project, and carries that tree in the sdist.

From a checkout the tree is this folder's parent; from an sdist it is native/, copied there when the
sdist is made, so that the archive builds on its own. The version is the tree's VERSION file.
"""

import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.sdist import sdist

HERE = Path(__file__).resolve().parent
# What the extension's build reads from the tree: the numeric libraries, the rules, the catalogue,
# the host, the engine, the .xlsx layer, the report library, and the build files that join them.
TREE_PARTS = ["CMakeLists.txt", "VERSION", "quorin64.def", "cmake", "addin", "rules", "stats", "interp", "fit",
              "host", "engine", "xlsx", "report", "cli", "calc", "python/CMakeLists.txt", "python/src"]


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
                        "-DQUORIN_TESTS=OFF", "-DQUORIN_PYTHON=ON", f"-DPYTHON_EXECUTABLE={sys.executable}"],
                       check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(["cmake", "--build", str(build), "-j", jobs, "--target", "_quorin", "quorin64", "xlcall32"],
                       check=True)
        extension = Path(self.get_ext_fullpath(ext.name))
        extension.parent.mkdir(parents=True, exist_ok=True)
        built = build / "bin"
        shutil.copyfile(next(built.glob("_quorin*.so")), extension)
        for library in ["quorin64.so", "libxlcall32.so"]:
            shutil.copyfile(built / library, extension.parent / library)


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
    cmdclass={"build_ext": CMakeBuild, "sdist": SelfContainedSdist},
    zip_safe=False,
)
