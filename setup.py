# Builds the extension module zelko._zelko with the project's CMake build (the target _zelko
# and the scan library it links, nothing else) and puts it into the package; the package's
# metadata are in pyproject.toml. Environment: CMAKE_BUILD_PARALLEL_LEVEL sets the build
# jobs (default 2), ZELKO_CMAKE_ARGS adds configure options (e.g. a compiler launcher).
import glob
import os
import shlex
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = os.path.dirname(os.path.abspath(__file__))


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, extension):
        build = os.path.join(os.path.abspath(self.build_temp), "cmake")
        os.makedirs(build, exist_ok=True)
        configure = [
            "cmake", "-S", SOURCE, "-B", build,
            "-DCMAKE_BUILD_TYPE=Release",
            "-DZELKO_TESTS=OFF", "-DZELKO_BENCH=OFF", "-DZELKO_PYTHON=ON",
            "-DPython_EXECUTABLE=" + sys.executable,
        ]
        try:  # pybind11's CMake files where its Python package has them
            import pybind11

            configure.append("-Dpybind11_DIR=" + pybind11.get_cmake_dir())
        except (ImportError, AttributeError):
            pass  # CMake looks in its own places (pybind11-dev)
        configure += shlex.split(os.environ.get("ZELKO_CMAKE_ARGS", ""))
        subprocess.run(configure, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(["cmake", "--build", build, "--target", "_zelko", "-j", jobs],
                       check=True)
        built = glob.glob(os.path.join(build, "python", "zelko", "_zelko*.so"))
        if len(built) != 1:
            raise RuntimeError("the CMake build made no single module _zelko: %s" % built)
        target = self.get_ext_fullpath(extension.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built[0], target)


setup(ext_modules=[CMakeExtension("zelko._zelko")], cmdclass={"build_ext": CMakeBuild})
