"""The build of the Python module for pip: the project's CMake builds the
module (and the engine beneath it) in the build's temporary folder, and the
module and its type stub are installed as the top-level module quorel."""
import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = os.path.dirname(os.path.abspath(__file__))


def version():
    with open(os.path.join(SOURCE, "src", "base", "version.hpp"), encoding="utf-8") as header:
        return re.search(r'quorel_version = "([^"]+)"', header.read()).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        subprocess.check_call(["cmake", "-S", SOURCE, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                               "-DQUOREL_BUILD_TESTS=OFF", "-DQUOREL_PYTHON=ON",
                               "-DPython3_EXECUTABLE=" + sys.executable])
        subprocess.check_call(["cmake", "--build", build, "--target", "quorel_python",
                               "--parallel", str(os.cpu_count() or 1)])
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(build, "python", os.path.basename(target)), target)
        shutil.copyfile(os.path.join(SOURCE, "python", "quorel.pyi"),
                        os.path.join(os.path.dirname(target), "quorel.pyi"))


setup(version=version(), ext_modules=[Extension("quorel", sources=[])], cmdclass={"build_ext": CMakeBuild})
