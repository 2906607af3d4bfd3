"""Outputs of the XML layer's template renderers and span rewrites, read by Python's own XML parser.

The C++ tests of the XML layer write every rendered or rewritten part they check into the folder named by
XMLTREE_DUMP_DIR. This test runs them with that folder set and parses each file with expat, which must accept it
as well formed, in UTF-8 and in UTF-16 of either byte order, with and without a byte-order mark. The test binary
comes from the CMake build in $CMX_BUILD_DIR (default build/release).
"""

import os
import subprocess
import xml.dom.minidom
import xml.parsers.expat
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("CMX_BUILD_DIR", ROOT / "build" / "release"))
TEST_BINARY = BUILD / "tests" / "cpp" / "xml" / "test_xml"
FILTER = "ReplaceTemplateChildren.*:ApplyTemplateEdits.*:ApplySpanRewrites.*:TemplateProperty.FixtureParts"


@pytest.fixture(scope="module")
def dumped(tmp_path_factory):
    if not TEST_BINARY.exists():
        pytest.skip(f"the XML test binary is not built at {TEST_BINARY}")
    out = tmp_path_factory.mktemp("xmltree")
    env = dict(os.environ, XMLTREE_DUMP_DIR=str(out))
    run = subprocess.run([str(TEST_BINARY), f"--gtest_filter={FILTER}"], env=env, capture_output=True, text=True)
    assert run.returncode == 0, run.stdout[-4000:] + run.stderr[-4000:]
    return sorted(out.glob("*.xml"))


def test_outputs_were_written(dumped):
    names = {path.name for path in dumped}
    assert len(dumped) >= 40
    # Both UTF-16 byte orders, with and without a mark, reach the parser.
    for spelling in ("utf16le", "utf16le-bom", "utf16be", "utf16be-bom", "utf8-bom"):
        assert any(name.endswith(f"_{spelling}.xml") for name in names), spelling
    assert any(name.startswith("root_attributes_prefixed") for name in names)


def parse(data, namespaces):
    parser = xml.parsers.expat.ParserCreate(namespace_separator=" " if namespaces else None)
    parser.Parse(data, True)


def test_every_output_is_well_formed(dumped):
    # XML 1.0 well-formedness for all: several tests use unbound prefixes on purpose, which our trees accept.
    failures = []
    for path in dumped:
        try:
            parse(path.read_bytes(), namespaces=False)
        except xml.parsers.expat.ExpatError as error:
            failures.append(f"{path.name}: {error}")
    assert not failures, "\n".join(failures)


def test_rewritten_fixture_parts_keep_their_namespaces(dumped):
    # Fixture parts rewritten through their spans stay namespace-well-formed as well.
    failures = []
    rewritten = [path for path in dumped if path.name.startswith("property_")]
    assert rewritten
    for path in rewritten:
        try:
            parse(path.read_bytes(), namespaces=True)
        except xml.parsers.expat.ExpatError as error:
            failures.append(f"{path.name}: {error}")
    assert not failures, "\n".join(failures)


def test_prefixed_root_attribute_is_written_once(dumped):
    # The root attribute given with a prefix replaces the attribute of that exact name; a second copy would make
    # the start tag ill formed.
    path = next(p for p in dumped if p.name.startswith("root_attributes_prefixed_name_replaces"))
    root = xml.dom.minidom.parseString(path.read_bytes()).documentElement  # namespace-aware
    assert root.getAttribute("xmlns:r") == "w"
    assert root.getAttribute("mc:Ignorable") == "x14ac"
    assert path.read_bytes().count(b"xmlns:r=") == 1
