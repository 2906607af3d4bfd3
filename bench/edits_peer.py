"""openpyxl on the inputs of bench/model_bench.cpp and bench/ops_bench.cpp,
for the peer figures of cell-map moves and style edits: one row inserted
above 10^6 filled cells (BM_InsertRowMillionCells/0), and bold with a solid
fill set on 100,000 cells (BM_PatchStyleHundredThousandCells); and one row
inserted above 10^6 cells with 10^5 formulas (BM_InsertRowsTopOfMillionCells
times an insertion and a deletion), where openpyxl moves the cells but leaves
every formula as written, so its Translator is timed on the formulas too."""
import time

import openpyxl
from openpyxl.formula.translate import Translator
from openpyxl.styles import Font, PatternFill


def filled_sheet(rows: int, first_row: int):
    workbook = openpyxl.Workbook()
    sheet = workbook.active
    for r in range(rows):
        for c in range(1, 11):
            sheet.cell(row=first_row + r, column=c, value=r)
    return sheet


def main() -> None:
    sheet = filled_sheet(100000, 2)
    start = time.perf_counter()
    sheet.insert_rows(1)
    print(f"edits_peer: openpyxl insert_rows above 10^6 cells {(time.perf_counter() - start) * 1e3:.1f} ms")

    sheet = filled_sheet(10000, 1)
    bold = Font(bold=True)
    fill = PatternFill("solid", fgColor="FFEE00")
    start = time.perf_counter()
    for row in sheet.iter_rows(min_row=1, max_row=10000, max_col=10):
        for cell in row:
            cell.font = bold
            cell.fill = fill
    print(f"edits_peer: openpyxl bold and fill on 10^5 cells {(time.perf_counter() - start) * 1e3:.1f} ms")

    sheet = filled_sheet(100000, 1)
    for r in range(1, 100001):
        sheet.cell(row=r, column=11, value=f"=A{r}*2+SUM(B{r}:J{r})")
    start = time.perf_counter()
    sheet.insert_rows(1)
    moved = time.perf_counter() - start
    start = time.perf_counter()
    for r in range(2, 100002):
        cell = sheet.cell(row=r, column=11)
        cell.value = Translator(cell.value, origin=f"K{r - 1}").translate_formula(f"K{r}")
    translated = time.perf_counter() - start
    print(f"edits_peer: openpyxl insert_rows above 10^6 cells and 10^5 formulas {moved * 1e3:.1f} ms, "
          f"Translator on the formulas {translated * 1e3:.1f} ms")


if __name__ == "__main__":
    main()
