"""Wheel tags for a package that bundles a native library but no extension.

The package is pure Python (ctypes), so any Python 3 on the platform can use
it: the tag is py3-none-PLATFORM, with PLATFORM the bundled library's. The
build-wheels script stages the library into the package and sets
RAMINFO_VERSION and RAMINFO_WHEEL_PLATFORM.
"""

import os
from typing import Tuple

# Neither ships type information.
from setuptools import Distribution, setup  # type: ignore[import]
from wheel.bdist_wheel import bdist_wheel  # type: ignore[import]


def required(name: str) -> str:
    value = os.environ.get(name, "")
    if not value:
        raise SystemExit(f"setup.py: {name} is not set; build with bindings/python/build-wheels")
    return value


class NativeDistribution(Distribution):  # type: ignore[misc]
    # The bundled library makes the wheel platform-specific: its files go to
    # the platform's site-packages (Root-Is-Purelib: false).
    def has_ext_modules(self) -> bool:
        return True


class PlatformWheel(bdist_wheel):  # type: ignore[misc]
    def get_tag(self) -> Tuple[str, str, str]:
        return ("py3", "none", required("RAMINFO_WHEEL_PLATFORM"))


setup(
    version=required("RAMINFO_VERSION"),
    distclass=NativeDistribution,
    cmdclass={"bdist_wheel": PlatformWheel},
)
