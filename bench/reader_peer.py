#!/usr/bin/env python3
"""Peer side of bench_reader's BM_ReadWorksheet: openpyxl (read-only mode)
streaming the same generated 1,000,000-cell sheet (1,000 rows of 1,000 cells:
numbers, shared-string cells, styled numbers, a shared formula per row).
Prints cells per second; compare with bench_reader's cells_per_s."""
import io
import time
import zipfile

import openpyxl
from openpyxl.utils import get_column_letter

ROWS = 1000
COLS = 1000
NS = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"


def shortest(value: float) -> str:
    text = repr(value)
    return text[:-2] if text.endswith(".0") else text


def sheet_part() -> str:
    out = [f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<worksheet xmlns="{NS}"><sheetData>']
    letters = [get_column_letter(col + 1) for col in range(COLS)]
    for row in range(ROWS):
        row_text = str(row + 1)
        out.append(f'<row r="{row_text}" spans="1:1000">')
        for col in range(COLS):
            ref = letters[col] + row_text
            if col + 1 == COLS:
                master = ' ref="ALL1:ALL1000">SUM(A1:C1)' if row == 0 else ">"
                out.append(f'<c r="{ref}"><f t="shared" si="0"{master}</f><v>6</v></c>')
            elif col % 3 == 0:
                out.append(f'<c r="{ref}"><v>{shortest(row * 0.25 + col)}</v></c>')
            elif col % 3 == 1:
                out.append(f'<c r="{ref}" t="s"><v>{(row + col) % 1000}</v></c>')
            else:
                out.append(f'<c r="{ref}" s="1"><v>{row * col}</v></c>')
        out.append("</row>")
    out.append("</sheetData></worksheet>")
    return "".join(out)


def package() -> bytes:
    strings = "".join(f"<si><t>text {idx}</t></si>" for idx in range(1000))
    files = {
        "[Content_Types].xml": '<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/>'
        '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
        '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
        '<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>'
        '<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/></Types>',
        "_rels/.rels": f'<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        f'<Relationship Id="rId1" Type="{REL}/officeDocument" Target="xl/workbook.xml"/></Relationships>',
        "xl/workbook.xml": f'<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="{NS}" xmlns:r="{REL}"><sheets><sheet name="Sheet1" sheetId="1" r:id="rId1"/></sheets></workbook>',
        "xl/_rels/workbook.xml.rels": f'<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        f'<Relationship Id="rId1" Type="{REL}/worksheet" Target="worksheets/sheet1.xml"/>'
        f'<Relationship Id="rId2" Type="{REL}/sharedStrings" Target="sharedStrings.xml"/>'
        f'<Relationship Id="rId3" Type="{REL}/styles" Target="styles.xml"/></Relationships>',
        "xl/sharedStrings.xml": f'<?xml version="1.0" encoding="UTF-8"?><sst xmlns="{NS}">{strings}</sst>',
        "xl/styles.xml": f'<?xml version="1.0" encoding="UTF-8"?><styleSheet xmlns="{NS}"><fonts count="1"><font/></fonts>'
        '<fills count="1"><fill><patternFill patternType="none"/></fill></fills><borders count="1"><border/></borders>'
        '<cellXfs count="2"><xf/><xf/></cellXfs></styleSheet>',
        "xl/worksheets/sheet1.xml": sheet_part(),
    }
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, text in files.items():
            archive.writestr(name, text)
    return out.getvalue()


def main() -> None:
    data = package()
    start = time.perf_counter()
    book = openpyxl.load_workbook(io.BytesIO(data), read_only=True)
    cells = sum(1 for row in book["Sheet1"].iter_rows(values_only=True) for value in row if value is not None)
    elapsed = time.perf_counter() - start
    print(f"openpyxl read-only: {cells} cells in {elapsed:.2f} s, {cells / elapsed / 1e6:.3f}M cells/s")


if __name__ == "__main__":
    main()
