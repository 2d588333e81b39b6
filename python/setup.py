"""Builds the native part of the kavlo module, with the library beside it.

The extension links libkavlo.so.0 and finds it in its own directory (rpath
$ORIGIN), where the build copies it, so a wheel carries the library and
works wherever it is installed. The library comes from the repository's
build tree (../build after `make`, or the directory KAVLO_BUILD_DIR names);
without one it is built from the repository's sources with CMake (into
python/build/libkavlo); outside a checkout, the installation `make install`
made is linked where it lies (found with pkg-config).
"""
import os
import re
import shutil
import subprocess
import sys
from importlib.util import find_spec

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SONAME = "libkavlo.so.0"
CHECKOUT = os.path.exists(os.path.join(ROOT, "CMakeLists.txt")) and os.path.isdir(os.path.join(ROOT, "src"))

NO_WHEEL = """kavlo: building a wheel needs the 'wheel' package, which this Python does not see.
  On Debian: apt-get install python3-wheel python3-setuptools, then build with the
  system's Python, e.g. in a venv made with `python3 -m venv --system-site-packages`:
      pip wheel --no-build-isolation ./python
  or keep build isolation and take both from Debian's wheel files
  (apt-get install python3-wheel-whl python3-setuptools-whl):
      pip wheel --no-index --find-links /usr/share/python-wheels ./python"""


def need_wheel():
    # setuptools has a bdist_wheel of its own from 70.1 on; before, the 'wheel' package gives it
    wanted = {"bdist_wheel", "dist_info", "editable_wheel"} & set(sys.argv)
    if wanted and not (find_spec("setuptools.command.bdist_wheel") or find_spec("wheel")):
        raise SystemExit(NO_WHEEL)


def pkg_config(*args):
    try:
        return subprocess.run(["pkg-config", *args, "kavlo"], check=True, capture_output=True,
                              text=True).stdout.split()
    except (OSError, subprocess.CalledProcessError):
        return None


def version():
    if CHECKOUT:
        text = open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8").read()
        return re.search(r"project\(kavlo\s+VERSION\s+([0-9.]+)", text).group(1)
    v = pkg_config("--modversion")
    if v:
        return v[0]
    raise SystemExit("kavlo: cannot tell the library's version (no checkout, no pkg-config kavlo)")


def library_dir():
    """The directory holding libkavlo.so.0 of this checkout, built if need be;
    None outside a checkout."""
    for d in (os.environ.get("KAVLO_BUILD_DIR"), os.path.join(ROOT, "build")):
        if d and os.path.exists(os.path.join(d, SONAME)):
            return d
    if not CHECKOUT:
        return None
    out = os.path.join(HERE, "build", "libkavlo")
    flags = ["-DCMAKE_BUILD_TYPE=Release", "-DKAVLO_BUILD_TESTS=OFF", "-DKAVLO_BUILD_TOOLS=OFF",
             "-DKAVLO_BUILD_BENCH=OFF"]
    try:
        subprocess.run(["cmake", "-S", ROOT, "-B", out, *flags], check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", out, "--target", "kavlo", "--parallel", "2"], check=True)
    except (OSError, subprocess.CalledProcessError) as e:
        raise SystemExit(f"kavlo: building the library failed ({e}); run `make` in the repository "
                         "(scripts/setup.sh installs what it needs)") from None
    return out


class BuildExt(build_ext):
    """Copies the library next to the module, so the rpath $ORIGIN finds
    it. Always rebuilds: an earlier build in python/build may be against
    another library."""

    def run(self):
        self.force = True
        super().run()
        dest = os.path.join(self.build_lib, "kavlo", SONAME)
        if LIBDIR:
            shutil.copyfile(os.path.realpath(os.path.join(LIBDIR, SONAME)), dest)
            if self.inplace:
                shutil.copyfile(dest, os.path.join(HERE, "kavlo", SONAME))
        elif os.path.exists(dest):
            os.remove(dest)


need_wheel()
LIBDIR = library_dir() if {"build_ext", "build", "bdist_wheel", "editable_wheel", "install", "develop"} & set(sys.argv) else None
if LIBDIR or CHECKOUT:
    ext_args = dict(include_dirs=[os.path.join(ROOT, "include")], library_dirs=[LIBDIR] if LIBDIR else [],
                    runtime_library_dirs=["$ORIGIN"])
else:
    cflags, libdir = pkg_config("--cflags"), pkg_config("--variable=libdir")
    if cflags is None or not libdir:
        raise SystemExit("kavlo: library not found; run `make` in the repository first "
                         "(or `make install`, or set KAVLO_BUILD_DIR)")
    ext_args = dict(include_dirs=[f[2:] for f in cflags if f.startswith("-I")], library_dirs=libdir,
                    runtime_library_dirs=libdir)

setup(
    version=version(),
    ext_modules=[Extension("kavlo._kavlo", ["kavlo/_kavlo.c"], libraries=["kavlo"], **ext_args)],
    cmdclass={"build_ext": BuildExt},
)
