"""The extension corvane._native, built by the project's CMake: the library and the
extension only, without tests, tools or benchmarks. The pure-Python modules come from
python/corvane as pyproject.toml says."""

import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(\S+\s+VERSION\s+([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = pathlib.Path(self.build_temp).resolve() / "cmake"
        options = ["-DCMAKE_BUILD_TYPE=Release", f"-DPython_EXECUTABLE={sys.executable}",
                   "-DCORVANE_QASM3_BUILD_PYTHON=ON", "-DCORVANE_QASM3_BUILD_TESTS=OFF",
                   "-DCORVANE_QASM3_BUILD_TOOLS=OFF", "-DCORVANE_QASM3_BUILD_BENCH=OFF"]
        # CMAKE_ARGS adds options (a compiler launcher, say), as in other CMake-driven builds.
        options += shlex.split(os.environ.get("CMAKE_ARGS", ""))
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build_dir), *options], check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(build_dir), "--target", "corvane_python_native",
                        "--parallel", jobs], check=True)
        (built,) = (build_dir / "python" / "corvane").glob("_native.*")
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    version=project_version(),
    ext_modules=[Extension("corvane._native", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    # Away from build/, where the README's CMake build goes.
    options={"build": {"build_base": "build-pip"}, "egg_info": {"egg_base": "build-pip"}},
)
