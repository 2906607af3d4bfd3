"""Spreadsheet engine for .xlsx workbooks, implemented in C++."""

from ._cindermantle_xlsx import *  # noqa: F401,F403
from ._cindermantle_xlsx import __version__  # noqa: F401
