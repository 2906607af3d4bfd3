#!/usr/bin/env python3
"""Writes the seed of fuzz/new_package_fuzz.cpp: the parts of a one-sheet package joined by NUL bytes."""
from pathlib import Path

NS = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
R = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PARTS = [
    f'<workbook {NS} xmlns:r="{R}"><workbookPr date1904="1"/><sheets><sheet name="S &amp; T" sheetId="1" '
    f'r:id="rId1"/></sheets><definedNames><definedName name="x" localSheetId="0">S!$A$1</definedName>'
    f'</definedNames></workbook>',
    f'<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" '
    f'Type="{R}/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="{R}/sharedStrings" '
    f'Target="sharedStrings.xml"/><Relationship Id="rId3" Type="{R}/styles" Target="styles.xml"/></Relationships>',
    f'<sst {NS}><si><t>a_x0001_b</t></si><si><r><t>rich</t></r></si><si><t xml:space="preserve"> x </t></si></sst>',
    f'<styleSheet {NS}><numFmts count="1"><numFmt numFmtId="164" formatCode="0.0&quot;x&quot;"/></numFmts>'
    f'<fonts count="1"><font><b/><sz val="11"/><color theme="1" tint="-0.25"/><name val="Calibri"/></font></fonts>'
    f'<fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="solid">'
    f'<fgColor rgb="FFFF0000"/></patternFill></fill></fills><borders count="1"><border><left style="thin"/>'
    f'</border></borders><cellXfs count="2"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/>'
    f'<xf numFmtId="164" fontId="0" fillId="1" borderId="0" applyFill="1"><alignment wrapText="1"/></xf>'
    f'</cellXfs></styleSheet>',
    f'<worksheet {NS} xmlns:r="{R}"><sheetViews><sheetView workbookViewId="0"><pane ySplit="1" topLeftCell="A2" '
    f'state="frozen"/></sheetView></sheetViews><cols><col min="1" max="2" width="12.5" customWidth="1"/></cols>'
    f'<sheetData><row r="1" ht="20" customHeight="1"><c r="A1" t="s"><v>0</v></c><c r="B1" s="1"><v>1.5</v></c>'
    f'<c r="C1" t="inlineStr"><is><t>_x005F_x0041_</t></is></c><c r="D1"><f>A1&amp;"x"</f><v>3</v></c></row>'
    f'<row r="3"><c r="A3" t="b"><v>1</v></c><c r="B3" t="e"><v>#N/A</v></c></row></sheetData>'
    f'<mergeCells count="1"><mergeCell ref="A3:B4"/></mergeCells><hyperlinks><hyperlink ref="A1" '
    f'location="S!B2" display="go"/></hyperlinks></worksheet>',
]

(Path(__file__).parent / "package_parts.txt").write_bytes("\0".join(PARTS).encode())
