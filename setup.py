"""Builds the dwt97 package with the project's own CMake build, so that the
extension is made of the same objects (the per-instruction-set passes
included) as the library and the tool."""
import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as cmake_lists:
        return re.search(r"project\(dwt97 VERSION ([0-9.]+)", cmake_lists.read()).group(1)


class CMakeBuild(build_ext):
    """Configures and builds the extension target with CMake and copies the
    result where setuptools expects the extension."""

    def build_extension(self, ext):
        build_dir = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        os.makedirs(build_dir, exist_ok=True)
        configure = [
            "cmake", "-S", ROOT, "-B", build_dir,
            "-DCMAKE_BUILD_TYPE=Release",
            "-DDWT97_PYTHON=ON", "-DDWT97_BUILD_TESTS=OFF", "-DDWT97_BUILD_EXTRAS=OFF",
            # The interpreter running this build is the one the module is for.
            "-DPython3_EXECUTABLE=" + sys.executable,
        ]
        subprocess.run(configure, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(["cmake", "--build", build_dir, "--target", "dwt97_python", "-j", jobs],
                       check=True)
        built = os.path.join(build_dir, "python", "dwt97",
                             os.path.basename(self.get_ext_filename(ext.name)))
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built, target)


setup(
    version=project_version(),
    packages=["dwt97"],
    package_dir={"": "python"},
    package_data={"dwt97": ["__init__.pyi", "py.typed"]},
    ext_modules=[Extension("dwt97._dwt97", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
