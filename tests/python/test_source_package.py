"""The source package record against Python's zipfile and openpyxl, over the shared corpus.

Our side is the test-only driver tests/cpp/workbook/source_package_dump, built by CMake into $CMX_BUILD_DIR
(default build/release): it opens each .xlsx into the source package record and prints its parts, sheets and
inventory as JSON lines. zipfile lists the archive's entries; openpyxl reads sheet names and states and, part by
part, the location of every pivot table; ElementTree reads the content types and workbook relationships as
written. Each must agree with the record.
"""

import json
import os
import re
import subprocess
import warnings
import zipfile
from pathlib import Path, PurePosixPath
from xml.etree import ElementTree

import pytest

openpyxl = pytest.importorskip("openpyxl")

from openpyxl.pivot.table import TableDefinition  # noqa: E402
from openpyxl.utils import column_index_from_string, get_column_letter  # noqa: E402
from openpyxl.xml.functions import fromstring  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("CMX_BUILD_DIR", ROOT / "build" / "release"))
if not BUILD.is_absolute():
    BUILD = ROOT / BUILD
TOOL = BUILD / "tests" / "cpp" / "workbook" / "source_package_dump"
CORPUS = ROOT.parent / "shared" / "corpus"
FULL = os.environ.get("CMX_FULL_CORPUS") == "1"

pytestmark = [
    pytest.mark.skipif(not TOOL.exists(), reason=f"source_package_dump not built at {TOOL}"),
    pytest.mark.skipif(not CORPUS.exists(), reason="no shared corpus"),
]

STATES = {"visible": 0, "hidden": 1, "veryHidden": 2}
PIVOT_TABLE_REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/pivotTable"
PKG_RELS = "{http://schemas.openxmlformats.org/package/2006/relationships}Relationship"


def corpus_files():
    return sorted(CORPUS.rglob("*.xlsx"))


@pytest.fixture(scope="module")
def records():
    files = corpus_files()
    run = subprocess.run([str(TOOL), *map(str, files)], capture_output=True, timeout=300)
    assert run.returncode == 0, run.stderr.decode(errors="replace")
    lines = [json.loads(line) for line in run.stdout.decode().splitlines()]
    assert len(lines) == len(files)
    return {Path(line["file"]): line for line in lines}


def test_every_part_of_the_archive_is_in_the_record(records):
    opened = 0
    for path, record in records.items():
        if "error" in record:
            continue
        opened += 1
        with zipfile.ZipFile(path) as archive:
            names = [info.filename for info in archive.infolist() if not info.is_dir()]
        assert record["parts"] == names, path.name
    assert opened > 0.9 * len(records)


def written_attributes(element):
    """ElementTree's attributes in document order, named as written for the unprefixed ones."""
    return [[name, value] for name, value in element.attrib.items()]


def test_content_types_and_workbook_relationships_as_written(records):
    compared = 0
    for path, record in records.items():
        if "error" in record:
            continue
        with zipfile.ZipFile(path) as archive:
            names = set(archive.namelist())
            expected = []
            if "[Content_Types].xml" in names:
                for element in ElementTree.fromstring(archive.read("[Content_Types].xml")).iter():
                    kind = element.tag.rsplit("}", 1)[-1]
                    if kind in ("Default", "Override"):
                        expected.append([kind, written_attributes(element)])
            assert record["content_types"] == expected, path.name
            rels = []
            if "xl/_rels/workbook.xml.rels" in names:
                root = ElementTree.fromstring(archive.read("xl/_rels/workbook.xml.rels"))
                rels = [written_attributes(e) for e in root.iter() if e.tag.rsplit("}", 1)[-1] == "Relationship"]
            ours = [[pair for pair in rel if not pair[0].startswith("xmlns")] for rel in record["workbook_relationships"]]
            assert ours == rels, path.name
            compared += 1
    assert compared > 0.9 * len(records)


def test_sheet_names_and_states_agree_with_openpyxl(records):
    opened = [path for path, record in records.items() if "error" not in record]
    sample = opened if FULL else opened[::5]
    compared = 0
    for path in sample:
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                book = openpyxl.load_workbook(path, read_only=True)
        except Exception:  # openpyxl refuses some files we open; nothing to compare then
            continue
        sheets = records[path]["sheets"]
        if not book.sheetnames:  # openpyxl reads no sheet of a strict-namespace workbook
            continue
        assert [sheet["name"] for sheet in sheets] == book.sheetnames, path.name
        for sheet in sheets:
            if not sheet["worksheet"]:  # openpyxl reads every chart sheet as visible
                continue
            assert sheet["state"] == STATES[book[sheet["name"]].sheet_state], (path.name, sheet["name"])
        compared += 1
        book.close()
    assert compared > 0


def pivot_hosts(archive, sheets):
    """Pivot table part name -> host sheet names, from each sheet's relationships."""
    hosts = {}
    for sheet in sheets:
        part = PurePosixPath(sheet["part"])
        rels_name = str(part.parent / "_rels" / (part.name + ".rels"))
        if rels_name not in archive.namelist():
            continue
        for rel in ElementTree.fromstring(archive.read(rels_name)).iter(PKG_RELS):
            if rel.get("Type") != PIVOT_TABLE_REL:
                continue
            target = os.path.normpath(str(part.parent / rel.get("Target"))).lstrip("/")
            hosts.setdefault(target.lower(), []).append(sheet["name"])
    return hosts


def moved_corner(ref, rows, cols):
    last = ref.split(":")[-1]
    match = re.fullmatch(r"\$?([A-Z]+)\$?(\d+)", last)
    col = min(column_index_from_string(match.group(1)) + cols, 16384)
    row = min(int(match.group(2)) + rows, 1048576)
    return f"{get_column_letter(col)}{row}"


def test_pivot_table_groups_agree_with_openpyxl(records):
    checked = 0
    for path, record in records.items():
        if "error" in record:
            continue
        tables = [group for group in record["inventory"] if group["label"].lower().startswith("xl/pivottables/")]
        if not tables:
            continue
        with zipfile.ZipFile(path) as archive:
            hosts = pivot_hosts(archive, record["sheets"])
            for group in tables:
                table = TableDefinition.from_tree(fromstring(archive.read(group["label"])))
                location = table.location
                corner = moved_corner(location.ref, location.rowPageCount or 0, location.colPageCount or 0)
                expected = [[host, corner] for host in hosts.get(group["label"].lower(), [])]
                assert group["refs"] == expected, (path.name, group["label"])
                checked += 1
    assert checked > 0
