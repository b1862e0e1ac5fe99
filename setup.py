"""The extension corvane._native and the command-line tool corvane-qasm3, built by the
project's CMake (the library, the extension and the tool; no tests or benchmarks) and put
inside the package. The pure-Python modules come from python/corvane as pyproject.toml says.

Everything is built outside the source tree, in a temporary directory that goes when the
build does; CORVANE_QASM3_BUILD_DIR names a directory to build in and keep instead, which
makes the next build quicker. `pip install -v` shows the progress lines."""

import atexit
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent
TOOL = "corvane-qasm3"


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(\S+\s+VERSION\s+([0-9.]+)", text).group(1)


def progress(message):
    print(f"[corvane-qasm3] {message}", file=sys.stderr, flush=True)


def build_base():
    kept = os.environ.get("CORVANE_QASM3_BUILD_DIR")
    if kept:
        path = pathlib.Path(kept).resolve()
        path.mkdir(parents=True, exist_ok=True)
        return path
    path = pathlib.Path(tempfile.mkdtemp(prefix="corvane-qasm3-build-"))
    atexit.register(shutil.rmtree, path, ignore_errors=True)
    return path


BUILD_BASE = build_base()


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = pathlib.Path(self.build_temp).resolve() / "cmake"
        options = ["-DCMAKE_BUILD_TYPE=Release", f"-DPython_EXECUTABLE={sys.executable}",
                   "-DCORVANE_QASM3_BUILD_PYTHON=ON", "-DCORVANE_QASM3_BUILD_TESTS=OFF",
                   "-DCORVANE_QASM3_BUILD_TOOLS=ON", "-DCORVANE_QASM3_BUILD_BENCH=OFF"]
        # CMAKE_ARGS adds options (a compiler launcher, say), as in other CMake-driven builds.
        options += shlex.split(os.environ.get("CMAKE_ARGS", ""))
        progress(f"configuring the C++ build in {build_dir}")
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build_dir), *options], check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        progress(f"building the library, the extension and the {TOOL} tool ({jobs} jobs; "
                 "a few minutes on two cores)")
        subprocess.run(["cmake", "--build", str(build_dir), "--target", "corvane_python",
                        "--parallel", jobs], check=True)
        built = build_dir / "python" / "corvane"
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        native = built / target.name  # both named with this interpreter's suffix
        target.parent.mkdir(parents=True, exist_ok=True)
        progress(f"adding {native.name} and {TOOL} to the package")
        shutil.copyfile(native, target)
        shutil.copy2(built / TOOL, target.parent / TOOL)  # keeps the tool executable


setup(
    version=project_version(),
    ext_modules=[Extension("corvane._native", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": str(BUILD_BASE / "build")},
             "egg_info": {"egg_base": str(BUILD_BASE)}},
)
