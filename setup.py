"""Builds the Python module with the project's CMake, the programs and tests off."""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pybind11
from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = Path(__file__).resolve().parent


def project_version():
    """The version of the CMake project, so that it is written in one place."""
    text = (SOURCE / "CMakeLists.txt").read_text()
    return re.search(r"project\(slipvel VERSION ([0-9.]+)", text).group(1)


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        target = Path(self.get_ext_fullpath(ext.name)).resolve().parent
        build = Path(self.build_temp).resolve() / "cmake"
        build.mkdir(parents=True, exist_ok=True)
        subprocess.run(["cmake", "-S", str(SOURCE), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                        "-DSLIPVEL_PROGRAMS=OFF", "-DSLIPVEL_TESTS=OFF", "-DSLIPVEL_INSTALL=OFF",
                        "-DSLIPVEL_PYTHON=ON", f"-DPython_EXECUTABLE={sys.executable}",
                        f"-Dpybind11_DIR={pybind11.get_cmake_dir()}"], check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(["cmake", "--build", str(build), "--target", "slipvel_python", "-j", jobs], check=True)
        built = list((build / "python").glob("slipvel*.so"))
        if len(built) != 1:
            raise RuntimeError(f"the CMake build made no Python module in {build / 'python'}")
        target.mkdir(parents=True, exist_ok=True)
        shutil.copy2(built[0], self.get_ext_fullpath(ext.name))
        shutil.copy2(SOURCE / "python" / "slipvel.pyi", target / "slipvel.pyi")


setup(version=project_version(), ext_modules=[CMakeExtension("slipvel")], cmdclass={"build_ext": CMakeBuild},
      py_modules=[], zip_safe=False)
