"""The package imports and exposes the extension's version."""

import importlib.machinery

import cindermantle_xlsx
from cindermantle_xlsx import _cindermantle_xlsx


def test_version():
    assert cindermantle_xlsx.__version__ == "0.2.0"


def test_extension_is_limited_api_build():
    # One abi3 binary serves every interpreter from 3.11 on.
    assert _cindermantle_xlsx.__file__.endswith(".abi3.so")
    assert any(s == ".abi3.so" for s in importlib.machinery.EXTENSION_SUFFIXES)
