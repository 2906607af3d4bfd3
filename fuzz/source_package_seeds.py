"""Writes the seeds of the source_package fuzz target into fuzz/corpus/source_package.

Each seed is the parts of a small package joined by NUL bytes, in the order the target names them: content
types, workbook, its relationships, a sheet and its relationships, a pivot table, its cache definition and
records, a drawing with a chart, and the root relationships.
"""

from pathlib import Path

MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
OFFICE = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG = "http://schemas.openxmlformats.org/package/2006/relationships"
CT = "http://schemas.openxmlformats.org/package/2006/content-types"


def rels(*entries):
    body = "".join(f'<Relationship Id="{i}" Type="{OFFICE}/{t}" Target="{target}"/>' for i, t, target in entries)
    return f'<Relationships xmlns="{PKG}">{body}</Relationships>'


def package(location='<location ref="A3:C10" rowPageCount="2"/>', source='sheet="Sheet1" ref="A1:D20"'):
    return [
        f'<Types xmlns="{CT}"><Default Extension="xml" ContentType="application/xml"/>'
        f'<Override PartName="/xl/charts/chart1.xml" '
        f'ContentType="application/vnd.openxmlformats-officedocument.drawingml.chart+xml"/></Types>',
        f'<workbook xmlns="{MAIN}" xmlns:r="{OFFICE}"><workbookPr/><sheets>'
        f'<sheet name="Sheet1" sheetId="1" state="hidden" r:id="rId1"/></sheets><calcPr calcId="1"/></workbook>',
        rels(("rId1", "worksheet", "worksheets/sheet1.xml"), ("rId2", "calcChain", "calcChain.xml")),
        f'<worksheet xmlns="{MAIN}"><sheetData><row r="1"><c r="A1"><v>1</v></c></row></sheetData></worksheet>',
        rels(("rId1", "pivotTable", "../pivotTables/pivotTable1.xml"), ("rId2", "drawing", "../drawings/drawing1.xml")),
        f'<pivotTableDefinition xmlns="{MAIN}">{location}</pivotTableDefinition>',
        rels(("rId1", "pivotCacheDefinition", "../pivotCache/pivotCacheDefinition1.xml")),
        f'<pivotCacheDefinition xmlns="{MAIN}" xmlns:r="{OFFICE}" r:id="rId1"><cacheSource type="worksheet">'
        f'<worksheetSource {source}/></cacheSource></pivotCacheDefinition>',
        rels(("rId1", "pivotCacheRecords", "pivotCacheRecords1.xml")),
        f'<pivotCacheRecords xmlns="{MAIN}"><r/></pivotCacheRecords>',
        '<xdr:wsDr xmlns:xdr="http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing" '
        'xmlns:c="http://schemas.openxmlformats.org/drawingml/2006/chart" '
        f'xmlns:r="{OFFICE}"><xdr:twoCellAnchor><xdr:from><xdr:col>0</xdr:col><xdr:row>0</xdr:row></xdr:from>'
        '<xdr:to><xdr:col>3</xdr:col><xdr:row>5</xdr:row></xdr:to><c:chart r:id="rId1"/><xdr:clientData/>'
        '</xdr:twoCellAnchor></xdr:wsDr>',
        rels(("rId1", "chart", "../charts/chart1.xml")),
        '<c:chartSpace xmlns:c="http://schemas.openxmlformats.org/drawingml/2006/chart"><c:chart><c:plotArea>'
        "<c:barChart><c:ser><c:val><c:numRef><c:f>Sheet1!$A$1:$B$3</c:f><c:numCache/></c:numRef></c:val></c:ser>"
        "</c:barChart></c:plotArea></c:chart></c:chartSpace>",
        rels(("rId1", "officeDocument", "xl/workbook.xml")),
    ]


def main():
    out = Path(__file__).resolve().parent / "corpus" / "source_package"
    out.mkdir(parents=True, exist_ok=True)
    seeds = {
        "pivot_and_chart": package(),
        "consolidation": package(
            source='x="1"',
            location='<location ref="XFD1048576" colPageCount="+4294967295"/>',
        ),
    }
    for name, parts in seeds.items():
        (out / name).write_bytes("\0".join(parts).encode())


if __name__ == "__main__":
    main()
