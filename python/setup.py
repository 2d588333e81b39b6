"""Builds the native part of the kavlo module against libkavlo.

The library comes from the repository's build tree (../build after `make`,
or the directory named by KAVLO_BUILD_DIR) and is then bundled next to the
module; without a build tree, from the installation `make install` made,
found with pkg-config. The version is the library's.
"""
import os
import re
import shutil
import subprocess

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SONAME = "libkavlo.so.0"


def build_tree():
    d = os.environ.get("KAVLO_BUILD_DIR") or os.path.join(ROOT, "build")
    return d if os.path.exists(os.path.join(d, SONAME)) else None


def pkg_config(*args):
    try:
        return subprocess.run(["pkg-config", *args, "kavlo"], check=True, capture_output=True,
                              text=True).stdout.split()
    except (OSError, subprocess.CalledProcessError):
        return None


def version():
    cmake = os.path.join(ROOT, "CMakeLists.txt")
    if os.path.exists(cmake):
        m = re.search(r"project\(kavlo\s+VERSION\s+([0-9.]+)", open(cmake, encoding="utf-8").read())
        if m:
            return m.group(1)
    v = pkg_config("--modversion")
    if v:
        return v[0]
    raise SystemExit("kavlo: cannot tell the library's version (no CMakeLists.txt, no pkg-config kavlo)")


BUILD = build_tree()
if BUILD:
    ext_args = dict(include_dirs=[os.path.join(ROOT, "include")], library_dirs=[BUILD],
                    libraries=["kavlo", "uchardet"], runtime_library_dirs=["$ORIGIN"])
else:
    cflags, libdir = pkg_config("--cflags"), pkg_config("--variable=libdir")
    if cflags is None or not libdir:
        raise SystemExit("kavlo: library not found; run `make` in the repository first "
                         "(or `make install`, or set KAVLO_BUILD_DIR)")
    ext_args = dict(include_dirs=[f[2:] for f in cflags if f.startswith("-I")], library_dirs=libdir,
                    libraries=["kavlo", "uchardet"], runtime_library_dirs=libdir)

VERSION = version()


class BuildExt(build_ext):
    """Also copies the library of the build tree next to the module.

    Always rebuilds: pip builds in python/build, where an earlier build
    against another library (or for another place) may still lie."""

    def run(self):
        self.force = True
        super().run()
        dest = os.path.join(self.build_lib, "kavlo", SONAME)
        if BUILD:
            shutil.copyfile(os.path.realpath(os.path.join(BUILD, SONAME)), dest)
            if self.inplace:
                shutil.copyfile(dest, os.path.join(HERE, "kavlo", SONAME))
        elif os.path.exists(dest):
            os.remove(dest)


setup(
    version=VERSION,
    ext_modules=[Extension("kavlo._kavlo", ["kavlo/_kavlo.c"], define_macros=[("KAVLO_PY_VERSION", f'"{VERSION}"')],
                           **ext_args)],
    cmdclass={"build_ext": BuildExt},
)
