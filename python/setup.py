"""The package varnel, built through the project's CMake: the extension
module varnel._varnel and the programs a holdout experiment runs (varnel and
Brimel), which go into the package's bin folder.

The CMake build folder is VARNEL_CMAKE_BUILD_DIR when it is set (`make
python` hands over the repository's own build), else one of its own under
setuptools' temporary folder."""
import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PROGRAMS = ("varnel", "Brimel")


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as file:
        return re.search(r"project\(varnel VERSION ([0-9.]+)", file.read()).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.environ.get("VARNEL_CMAKE_BUILD_DIR") or os.path.join(
            os.path.abspath(self.build_temp), "cmake"
        )
        if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
            subprocess.run(
                ["cmake", "-S", ROOT, "-B", build, "-DVARNEL_BUILD_TESTS=OFF",
                 "-DVARNEL_BUILD_PYTHON=ON", f"-DPython3_EXECUTABLE={sys.executable}"],
                check=True,
            )
        jobs = os.environ.get("JOBS", "2")
        subprocess.run(
            ["cmake", "--build", build, "-j", jobs, "--target", "varnel_python", *PROGRAMS],
            check=True,
        )
        built = os.path.join(build, "python", "varnel")
        module = next(name for name in os.listdir(built) if name.startswith("_varnel."))
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(os.path.join(built, module), target)
        bin_dir = os.path.join(os.path.dirname(target), "bin")
        os.makedirs(bin_dir, exist_ok=True)
        for program in PROGRAMS:
            shutil.copy2(os.path.join(build, "bin", program), os.path.join(bin_dir, program))


setup(
    name="varnel",
    version=project_version(),
    description="Holdout evaluation of class association rules, direct adjustment and "
    "data with a known truth, from pandas DataFrames",
    packages=["varnel"],
    ext_modules=[Extension("varnel._varnel", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    install_requires=["numpy", "pandas"],
    python_requires=">=3.9",
    zip_safe=False,
)
