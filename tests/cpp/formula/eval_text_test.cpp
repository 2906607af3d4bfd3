// The text functions through the evaluator: generated cases
// (eval_text_cases.inc, from Python's str) and then each function's edges by
// hand: measuring, slicing, searching, building, cleaning, conversion, and
// the column stage of text splitting.
#include <gtest/gtest.h>

#include <string>

#include "eval_harness.h"
#include "formula/array_eval.h"
#include "functions/text_split.h"

namespace cmx::formula {
namespace {

using namespace testing;

using Case = FormulaCase;

struct TextCase {
  const char* formula;
  char kind;  // 'T' text, 'N' number, 'B' bool, 'E' "#VALUE!"
  const char* text;
  double number;
};

#include "eval_text_cases.inc"

const CellValue kValue = err(CellErrorCode::Value);
const CellValue kNa = err(CellErrorCode::NA);
const CellValue kDiv0 = err(CellErrorCode::Div0);

std::string repeat(std::string_view piece, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(TextFunctions, AgreeWithPythonStrings) {
  Workbook wb;
  for (const TextCase& c : kTextCases) {
    SCOPED_TRACE(c.formula);
    const CellValue want = c.kind == 'T'   ? txt(c.text)
                           : c.kind == 'N' ? num(c.number)
                           : c.kind == 'B' ? boolean(c.number != 0)
                                           : kValue;
    EXPECT_TRUE(same_value(wb.eval(c.formula), want));
  }
}

TEST(TextLen, Table) {
  Workbook wb;
  wb.set(0, "A1", txt(repeat("a", 32767)));
  wb.set(0, "A2", txt(repeat("a", 32768)));
  wb.set(0, "A3", txt(repeat("😀", 32767)));  // 65,534 UTF-16 units, still below the limit
  const Case cases[] = {
      {"LEN(\"\")", num(0)},
      {"LEN(\"abc\")", num(3)},
      {"LEN(1/4)", num(4)},  // "0.25"
      {"LEN(TRUE)", num(4)},
      {"LEN(Z99)", num(0)},
      {"LEN(\"é\")", num(1)},
      {"LEN(\"e\xCC\x81\")", num(2)},  // e + combining acute: two characters
      {"LEN(\"日本語\")", num(3)},
      {"LEN(\"😀\")", num(1)},
      {"LEN(\"a😀b\")", num(3)},
      {"LEN(A1)", num(32767)},
      {"LEN(A2)", kValue},
      {"LEN(A3)", num(32767)},
      {"LEN(1/0)", kDiv0},
      {"LEN()", kValue},
      {"LEN(\"a\",\"b\")", kValue},
  };
  run_cases(wb, cases);
}

TEST(TextLeftRightMid, Table) {
  Workbook wb;
  const Case cases[] = {
      {"LEFT(\"abc\")", txt("a")},
      {"LEFT(\"abc\",0)", txt("")},
      {"RIGHT(\"abc\",10)", txt("abc")},
      {"LEFT(\"abc\",-1)", kValue},
      {"RIGHT(\"abc\",-1)", kValue},
      {"LEFT(\"abc\",2.9)", txt("ab")},
      {"LEFT(\"abc\",1E300)", txt("abc")},
      {"LEFT(\"abc\",)", txt("")},  // an omitted count is the empty value, 0
      {"LEFT(\"\",3)", txt("")},
      {"LEFT(12345,2)", txt("12")},
      {"RIGHT(TRUE,2)", txt("UE")},
      {"LEFT(\"😀b\",1)", txt("😀")},
      {"RIGHT(\"a😀\",1)", txt("😀")},
      {"LEFT(\"日本語\",2)", txt("日本")},
      {"RIGHT(\"e\xCC\x81\",1)", txt("\xCC\x81")},
      {"LEFT(\"abc\",\"x\")", kValue},
      {"LEFT(1/0,1)", kDiv0},
      {"LEFT(\"abc\",NA())", kNa},
      {"LEFT()", kValue},
      {"RIGHT(\"a\",1,1)", kValue},
      {"MID(\"abc\",4,1)", txt("")},
      {"MID(\"abc\",0,1)", kValue},
      {"MID(\"abc\",2,0)", txt("")},
      {"MID(\"abc\",2,-1)", kValue},
      {"MID(\"abc\",2,1E300)", txt("bc")},
      {"MID(\"abc\",1E300,1)", txt("")},
      {"MID(\"a😀b日\",2,2)", txt("😀b")},
      {"MID(\"日本語\",3,5)", txt("語")},
      {"MID(\"abc\",0,1/0)", kDiv0},  // both numbers are read before either is tested
      {"MID(\"abc\",NA(),1/0)", kNa},
      {"MID(\"abc\",2)", kValue},
  };
  run_cases(wb, cases);
}

TEST(TextFindSearch, Table) {
  Workbook wb;
  const Case cases[] = {
      {"FIND(\"\",\"abc\")", num(1)},
      {"FIND(\"\",\"abc\",4)", num(4)},
      {"FIND(\"\",\"\")", num(1)},
      {"FIND(\"a\",\"abc\",5)", kValue},
      {"FIND(\"a\",\"abc\",0)", kValue},
      {"FIND(\"B\",\"abc\")", kValue},
      {"SEARCH(\"B\",\"abc\")", num(2)},
      {"SEARCH(\"b*\",\"ab*c\")", num(2)},
      {"SEARCH(\"a?\",\"abc\")", kValue},
      {"FIND(\"~\",\"a~b\")", num(2)},
      {"FIND(\"a\",\"aXa\",2)", num(3)},
      {"FIND(\"c\",\"abc\",3)", num(3)},
      {"FIND(\"語\",\"日本語\")", num(3)},
      {"FIND(\"b\",\"😀ab\")", num(3)},
      {"FIND(\"b\",\"😀ab😀b\",4)", num(5)},
      {"SEARCH(\"É\",\"café\")", num(4)},
      {"FIND(\"É\",\"café\")", kValue},
      {"SEARCH(\"\xCC\x81\",\"cafe\xCC\x81\")", num(5)},
      // Positions count the lower-cased text: İ lower-cases to i and a dot.
      {"SEARCH(\"x\",\"İx\")", num(3)},
      {"SEARCH(\"SS\",\"straße\")", kValue},  // lower-casing does not fold ß
      {"FIND(1,12341)", num(1)},
      {"FIND(\"a\",\"abc\",\"x\")", kValue},
      {"FIND(1/0,\"abc\")", kDiv0},
      {"FIND(\"a\",NA())", kNa},
      {"FIND(\"a\")", kValue},
      {"SEARCH(\"a\",\"b\",1,1)", kValue},
  };
  run_cases(wb, cases);
}

TEST(TextBeforeAfter, Table) {
  Workbook wb;
  const Case cases[] = {
      {"TEXTBEFORE(\"a-b-c\",\"-\")", txt("a")},
      {"TEXTAFTER(\"a-b-c\",\"-\")", txt("b-c")},
      {"TEXTBEFORE(\"a-b-c\",\"-\",-1)", txt("a-b")},
      {"TEXTAFTER(\"a-b-c\",\"-\",2)", txt("c")},
      {"TEXTAFTER(\"a-b-c\",\"-\",-2)", txt("b-c")},
      {"TEXTBEFORE(\"a-b-c\",\"-\",-3)", kNa},
      {"TEXTBEFORE(\"a-b\",\"-\",3)", kNa},
      {"TEXTBEFORE(\"a-b\",\"-\",3,0,0,\"none\")", txt("none")},
      {"TEXTBEFORE(\"a-b\",\"x\",1,0,0,5)", num(5)},  // returned as it is
      {"TEXTBEFORE(\"a-b\",\"x\",1,0,0,1/0)", kDiv0},
      {"TEXTBEFORE(\"a-b\",\"-\",1,0,0,1/0)", txt("a")},  // only evaluated when needed
      {"TEXTBEFORE(\"a-b\",\"x\",,,,)", kNa},
      {"TEXTBEFORE(\"a-b\",\"-\",,,,)", txt("a")},
      {"TEXTBEFORE(\"aaa\",\"aa\",2)", kNa},  // occurrences never overlap
      {"TEXTBEFORE(\"abc\",\"x\",1,0,1)", txt("abc")},
      {"TEXTAFTER(\"abc\",\"x\",1,0,1)", txt("")},
      {"TEXTBEFORE(\"a-b\",\"-\",-1,0,1)", txt("a-b")},
      {"TEXTBEFORE(\"abc\",\"\")", txt("")},
      {"TEXTAFTER(\"abc\",\"\")", txt("abc")},
      {"TEXTAFTER(\"abc\",\"\",0)", kValue},
      {"TEXTBEFORE(\"a-b\",\"-\",0)", kValue},
      {"TEXTAFTER(\"aXb\",\"x\")", kNa},
      {"TEXTAFTER(\"aXb\",\"x\",1,1)", txt("b")},
      {"TEXTAFTER(\"a-b\",\"-\",-1E300)", kNa},
      {"TEXTBEFORE(\"日本-語\",\"-\")", txt("日本")},
      {"TEXTAFTER(\"日本😀語😀\",\"😀\")", txt("語😀")},
      {"TEXTAFTER(\"StraßeÄb\",\"ä\",1,1)", txt("b")},
      {"TEXTBEFORE(\"xΣy\",\"σ\",1,1)", txt("x")},
      {"TEXTBEFORE(\"xΣy\",\"σ\")", kNa},
      // İ lower-cases to two characters; a match ending inside them is none.
      {"TEXTAFTER(\"aİb\",\"i\",1,1)", kNa},
      {"TEXTAFTER(\"aİb\",\"İ\",1,1)", txt("b")},
      {"TEXTAFTER(\"a-b\",\"-\",\"x\")", kValue},
      {"TEXTAFTER(\"a-b\",NA())", kNa},
      {"TEXTBEFORE(\"a\")", kValue},
      {"TEXTBEFORE(\"a\",\"b\",1,0,0,1,1)", kValue},
  };
  run_cases(wb, cases);
}

TEST(TextExactCodeCharT, Table) {
  Workbook wb;
  wb.set(0, "A1", txt("cell"));
  const Case cases[] = {
      {"EXACT(\"A\",\"a\")", boolean(false)},
      {"EXACT(1,\"1\")", boolean(true)},
      {"EXACT(\"\",\"\")", boolean(true)},
      {"EXACT(\"é\",\"e\xCC\x81\")", boolean(false)},
      {"EXACT(\"日本\",\"日本\")", boolean(true)},
      {"EXACT(1/0,NA())", kDiv0},
      {"EXACT(\"a\",NA())", kNa},
      {"EXACT(\"a\")", kValue},
      {"CODE(\"\")", kValue},
      {"CODE(\"A\")", num(65)},
      {"CODE(\"€\")", num(8364)},
      {"CODE(\"é\")", num(233)},
      {"CODE(\"😀x\")", num(128512)},
      {"CODE(1)", num(49)},
      {"CODE(NA())", kNa},
      {"CHAR(0)", kValue},
      {"CHAR(256)", kValue},
      {"CHAR(65.9)", txt("A")},
      {"CHAR(233)", txt("é")},
      {"CHAR(255)", txt("ÿ")},
      {"LEN(CHAR(128))", num(1)},
      {"CHAR(\"x\")", kValue},
      {"CHAR()", kValue},
      {"T(5)", txt("")},
      {"T(\"x\")", txt("x")},
      {"T(TRUE)", txt("")},
      {"T(Z99)", txt("")},
      {"T(A1)", txt("cell")},
      {"T(1/0)", kDiv0},
      {"T()", kValue},
  };
  run_cases(wb, cases);
}

TEST(TextSubstituteReplace, Table) {
  Workbook wb;
  const Case cases[] = {
      {"SUBSTITUTE(\"aaa\",\"a\",\"b\")", txt("bbb")},
      {"SUBSTITUTE(\"aaa\",\"a\",\"b\",2)", txt("aba")},
      {"SUBSTITUTE(\"aaa\",\"a\",\"b\",4)", txt("aaa")},
      {"SUBSTITUTE(\"aaa\",\"a\",\"b\",0)", kValue},
      {"SUBSTITUTE(\"abc\",\"\",\"x\",0)", txt("abc")},
      {"SUBSTITUTE(\"abc\",\"\",\"x\",1/0)", txt("abc")},  // not evaluated
      {"SUBSTITUTE(\"aaaa\",\"aa\",\"b\")", txt("bb")},
      {"SUBSTITUTE(\"Aa\",\"a\",\"x\")", txt("Ax")},
      {"SUBSTITUTE(\"\",\"a\",\"x\")", txt("")},
      {"SUBSTITUTE(\"日本日本\",\"日\",\"月\")", txt("月本月本")},
      {"SUBSTITUTE(\"😀a😀\",\"😀\",\"\",2)", txt("😀a")},
      {"SUBSTITUTE(\"cafe\xCC\x81\",\"e\",\"E\")", txt("cafE\xCC\x81")},
      {"SUBSTITUTE(\"a\",\"a\",\"b\",\"x\")", kValue},
      {"SUBSTITUTE(\"a\",\"a\")", kValue},
      {"SUBSTITUTE(NA(),1/0,\"b\")", kNa},
      {"LEN(SUBSTITUTE(REPT(\"a\",16383),\"a\",\"bb\"))", num(32766)},
      {"LEN(SUBSTITUTE(REPT(\"a\",32767),\"a\",\"😀\"))", num(32767)},
      {"SUBSTITUTE(REPT(\"a\",16384),\"a\",\"bb\")", kValue},
      {"REPLACE(\"abcdef\",3,2,\"XY\")", txt("abXYef")},
      {"REPLACE(\"abc\",10,1,\"X\")", txt("abcX")},
      {"REPLACE(\"abc\",0,1,\"X\")", kValue},
      {"REPLACE(\"abc\",1,-1,\"X\")", kValue},
      {"REPLACE(\"abc\",2,0,\"X\")", txt("aXbc")},
      {"REPLACE(\"abc\",2,1E300,\"\")", txt("a")},
      {"REPLACE(\"日本語\",2,1,\"😀\")", txt("日😀語")},
      {"REPLACE(\"\",1,1,\"é\")", txt("é")},
      {"REPLACE(\"abc\",1/0,1,NA())", kDiv0},
      {"REPLACE(\"abc\",0,1,NA())", kNa},  // every argument is read before the tests
      {"LEN(REPLACE(REPT(\"a\",32767),1,1,\"b\"))", num(32767)},
      {"REPLACE(REPT(\"a\",32767),1,0,\"b\")", kValue},
      {"REPLACE(\"a\",1,1)", kValue},
  };
  run_cases(wb, cases);
}

TEST(TextRept, Table) {
  Workbook wb;
  const Case cases[] = {
      {"REPT(\"ab\",0)", txt("")},
      {"REPT(\"ab\",3)", txt("ababab")},
      {"REPT(\"é\",2.9)", txt("éé")},
      {"REPT(\"\",1000000)", txt("")},
      {"REPT(\"\",-1)", kValue},
      {"REPT(\"ab\",-1)", kValue},
      {"REPT(\"a\",32768)", kValue},
      {"LEN(REPT(\"a\",32767))", num(32767)},
      {"LEN(REPT(\"😀\",32767))", num(32767)},
      {"REPT(\"😀\",32768)", kValue},
      {"REPT(\"ab\",16384)", kValue},
      {"REPT(\"ab\",1E300)", kValue},  // refused before anything is built
      {"REPT(1/0,1)", kDiv0},
      {"REPT(\"a\")", kValue},
  };
  run_cases(wb, cases);
}

TEST(TextRept, ChargesTheByteBudget) {
  Workbook wb;
  EvalContext ctx = wb.context();
  // The literal "abc" costs its 3 bytes; the repeat then needs 12 more.
  ctx.shared->bytes_left = 3 + 11;
  EXPECT_TRUE(same_value(wb.eval("REPT(\"abc\",4)", ctx), err(CellErrorCode::Num)));
  EXPECT_TRUE(ctx.shared->limited);
  EXPECT_EQ(ctx.shared->bytes_left, 11u);
  EvalContext fits = wb.context();
  fits.shared->bytes_left = 3 + 12;
  EXPECT_TRUE(same_value(wb.eval("REPT(\"abc\",4)", fits), txt("abcabcabcabc")));
  EXPECT_FALSE(fits.shared->limited);
  EXPECT_EQ(fits.shared->bytes_left, 0u);
}

TEST(TextConcatenate, Table) {
  Workbook wb;
  wb.set(0, "A1", txt("日"));
  wb.set(0, "B1", num(2));
  wb.set(0, "A2", boolean(true));
  wb.set(0, "C5", err(CellErrorCode::Ref));
  wb.set(0, "D1", txt(repeat("x", 32767)));
  const Case cases[] = {
      {"CONCATENATE()", txt("")},
      {"CONCATENATE(1,TRUE,\"x\")", txt("1TRUEx")},
      {"CONCAT(\"日\",\"😀\",\"e\xCC\x81\")", txt("日😀e\xCC\x81")},
      {"CONCATENATE(A1:B2)", txt("日2TRUE")},
      {"CONCATENATE(A1:B2,\"|\",A:A)", txt("日2TRUE|日TRUE")},
      {"CONCATENATE(C1:C5)", err(CellErrorCode::Ref)},
      {"CONCATENATE(\"a\",1/0,NA())", kDiv0},
      {"CONCATENATE(D1,\"\")", txt(repeat("x", 32767))},
      {"CONCATENATE(D1,\"b\")", kValue},
      {"CONCATENATE(D1,1/0)", kDiv0},
  };
  run_cases(wb, cases);
}

TEST(TextConcatenate, ReadsOnlyTheUsedRowsOfAWholeColumn) {
  Workbook wb;
  wb.set(0, "A3", txt("c"));
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval("CONCATENATE(A:A)", ctx), txt("c")));
  EXPECT_EQ(ctx.shared->cells_left, kFormulaCellBudget - 3);
}

TEST(TextJoin, Table) {
  Workbook wb;
  wb.set(0, "A1", txt("a"));
  wb.set(0, "A3", txt("c"));
  wb.set(0, "B1", txt(""));
  wb.set(0, "D2", err(CellErrorCode::Null));
  const Case cases[] = {
      {"TEXTJOIN(\"-\",TRUE,\"a\",\"\",\"b\")", txt("a-b")},
      {"TEXTJOIN(\"-\",FALSE,\"a\",\"\",\"b\")", txt("a--b")},
      {"TEXTJOIN(\"-\",FALSE,\"\",\"b\")", txt("-b")},
      {"TEXTJOIN(\"-\",\"yes\",\"a\")", kValue},
      {"TEXTJOIN(\"-\",\"1\",\"a\",\"b\")", txt("a-b")},
      {"TEXTJOIN(\"-\",,\"a\",\"b\")", txt("a-b")},
      {"TEXTJOIN(\"、\",TRUE,\"日\",\"\",\"本\")", txt("日、本")},
      {"TEXTJOIN(\"😀\",FALSE,1,TRUE)", txt("1😀TRUE")},
      {"TEXTJOIN(\",\",TRUE,A1:A3)", txt("a,c")},
      {"TEXTJOIN(\",\",FALSE,A1:A3)", txt("a,,c")},
      {"TEXTJOIN(\",\",TRUE,A:A)", txt("a,c")},
      // The rows below the used area join as empty cells, each with a comma.
      {"TEXTJOIN(\",\",FALSE,A:A)", kValue},
      {"TEXTJOIN(\"\",FALSE,A:A)", txt("ac")},
      {"TEXTJOIN(\",\",FALSE,D1:D3)", err(CellErrorCode::Null)},
      {"TEXTJOIN(\",\",1/0,\"a\")", kDiv0},
      {"TEXTJOIN(NA(),1/0,\"a\")", kNa},
      {"TEXTJOIN(\",\",TRUE)", kValue},
      {"LEN(TEXTJOIN(\"-\",FALSE,REPT(\"a\",32766)))", num(32766)},
      {"LEN(TEXTJOIN(\"-\",FALSE,REPT(\"a\",32766),\"\"))", num(32767)},
      {"TEXTJOIN(\"-\",FALSE,REPT(\"a\",32766),\"\",\"\")", kValue},
  };
  run_cases(wb, cases);
}

TEST(TextJoin, WholeRowCutCellsEachBringADelimiter) {
  // A1="" (a text), C1="c": three used columns, 16,381 cut off.
  Workbook wb;
  wb.set(0, "A1", txt(""));
  wb.set(0, "C1", txt("c"));
  EXPECT_TRUE(same_value(wb.eval("LEN(TEXTJOIN(\",\",FALSE,1:1))"), num(3 + 16381)));
  EXPECT_TRUE(same_value(wb.eval("LEFT(TEXTJOIN(\",\",FALSE,1:1),4)"), txt(",,c,")));
  // Two-character delimiters: 2 + 2 + 1 + 2 x 16,381 = 32,767 characters,
  // the most a text may hold; one more empty value is one delimiter too many.
  EXPECT_TRUE(same_value(wb.eval("LEN(TEXTJOIN(\",,\",FALSE,1:1))"), num(32767)));
  EXPECT_TRUE(same_value(wb.eval("TEXTJOIN(\",,\",FALSE,1:1,\"\")"), kValue));
  EXPECT_TRUE(same_value(wb.eval("LEN(TEXTJOIN(\",,\",TRUE,1:1,\"\"))"), num(1)));
  EXPECT_TRUE(same_value(wb.eval("TEXTJOIN(\",\",TRUE,1:1)"), txt("c")));
}

TEST(TextTrimCleanCase, Table) {
  Workbook wb;
  const Case cases[] = {
      {"TRIM(\"  a   b  \")", txt("a b")},
      {"TRIM(\"a  \t  b\")", txt("a \t b")},
      {"TRIM(\" \t \")", txt("\t")},
      {"TRIM(\"   \")", txt("")},
      {"TRIM(\"\")", txt("")},
      {"TRIM(\" 日本  語 \")", txt("日本 語")},
      {"TRIM(\"\xC2\xA0" "a \xC2\xA0\")", txt("\xC2\xA0" "a \xC2\xA0")},  // no-break spaces stay
      {"TRIM(1/0)", kDiv0},
      {"TRIM(\"a\",\"b\")", kValue},
      {"CLEAN(\"a\nb\xC2\x85" "c\xC2\xA0\")", txt("abc\xC2\xA0")},
      {"CLEAN(CHAR(7)&\"x\"&CHAR(127)&CHAR(159)&CHAR(160))", txt("x\xC2\xA0")},
      {"CLEAN(\"😀\xC2\x9F日\")", txt("😀日")},
      {"CLEAN(\"\")", txt("")},
      {"PROPER(\"hello wORLD\")", txt("Hello World")},
      {"PROPER(\"o'neil 2nd\")", txt("O'Neil 2Nd")},
      {"PROPER(\"ß\")", txt("SS")},
      {"PROPER(\"élan VITAL\")", txt("Élan Vital")},
      {"PROPER(\"ǆemal\")", txt("Ǆemal")},  // upper case, not title case
      {"PROPER(\"日ABC\")", txt("日abc")},   // ideographs are letters
      {"PROPER(\"a😀b\")", txt("A😀B")},
      {"PROPER(\"e\xCC\x81t\xC3\xA9\")", txt("E\xCC\x81T\xC3\xA9")},  // a combining mark is no letter
      {"PROPER(\"\")", txt("")},
      {"UPPER(\"straße\")", txt("STRASSE")},
      {"LOWER(\"ΟΔΟΣ\")", txt("οδος")},
      {"LOWER(\"ΟΔΟΣ ΟΔΟΣ\")", txt("οδος οδος")},
      {"UPPER(\"é日😀\")", txt("É日😀")},
      {"LOWER(\"İ\")", txt("i\xCC\x87")},
      {"LOWER(TRUE)", txt("true")},
      {"UPPER(\"\")", txt("")},
      {"LEN(UPPER(REPT(\"ß\",16383)))", num(32766)},
      {"UPPER(REPT(\"ß\",16384))", kValue},  // the mapping makes it too long
      {"UPPER(NA())", kNa},
      {"LOWER()", kValue},
  };
  run_cases(wb, cases);
}

TEST(TextValue, Table) {
  Workbook wb;
  const Case cases[] = {
      {"VALUE(\" 12 \")", num(12)},
      {"VALUE(\"50%\")", num(0.5)},
      {"VALUE(\"5%%\")", num(0.05 / 100)},
      {"VALUE(\"1 1/2\")", num(1.5)},
      {"VALUE(\"10:30\")", num(0.4375)},
      {"VALUE(TRUE)", kValue},
      {"VALUE(5)", num(5)},
      {"VALUE(\"2024-01-15\")", kValue},
      {"VALUE(\"\")", kValue},
      {"VALUE(\"\xC2\xA0" "12\xE3\x80\x80\")", num(12)},  // Unicode white space trimmed
      {"VALUE(\"1e400\")", kValue},
      {"VALUE(1/0)", kDiv0},
      {"VALUE()", kValue},
      {"NUMBERVALUE(\"1.234,5\",\",\",\".\")", num(1234.5)},
      {"NUMBERVALUE(\"1 234.5\")", num(1234.5)},
      {"NUMBERVALUE(\"1\xC2\xA0" "234\")", num(1234)},
      {"NUMBERVALUE(\"12,5\")", num(125)},
      {"NUMBERVALUE(\"1.5\",\".\",\".\")", num(15)},
      {"NUMBERVALUE(\"1,5\",\",\")", num(15)},
      {"NUMBERVALUE(\"1\",\"\")", kValue},
      {"NUMBERVALUE(\"3;5\",\";x\")", num(3.5)},
      {"NUMBERVALUE(\"3€5\",\"€\")", num(3.5)},
      {"NUMBERVALUE(\"25%\")", num(0.25)},
      {"NUMBERVALUE(\"x\")", kValue},
      {"NUMBERVALUE(\"1\",NA(),1/0)", kNa},
      {"NUMBERVALUE(\"1\",\".\",\",\",1)", kValue},
      {"NUMBERVALUE()", kValue},
  };
  run_cases(wb, cases);
}

TEST(TextFormat, Table) {
  Workbook wb;
  const Case cases[] = {
      {"TEXT(1,\"\")", txt("")},
      {"TEXT(TRUE,\"0.00\")", txt("TRUE")},
      {"TEXT(Z99,\"0.00\")", txt("0.00")},
      {"TEXT(1/0,\"0\")", kDiv0},
      {"TEXT(1/0,NA())", kDiv0},
      {"TEXT(1,NA())", kNa},
      {"TEXT(\"12\",\"0.00\")", txt("12")},
      {"TEXT(\"日本\",\"\"\"<\"\"@\"\">\"\"\")", txt("<日本>")},
      {"TEXT(1234.5,\"#,##0.00\")", txt("1,234.50")},
      {"TEXT(0.5,\"0%\")", txt("50%")},
      {"TEXT(-1,\"0;[Red]-0\")", txt("-1")},  // the colour is dropped
      {"TEXT(45292,\"yyyy-mm-dd\")", txt("2024-01-01")},
      {"TEXT(1,2)", txt("2")},
      {"TEXT(1)", kValue},
  };
  run_cases(wb, cases);
}

TEST(TextFormat, DatesRenderInTheWorkbookDateSystem) {
  Workbook wb;
  wb.model.date_system = model::DateSystem::V1904;
  // 1904-01-01 plus 45,292 days.
  EXPECT_TRUE(same_value(wb.eval("TEXT(45292,\"yyyy-mm-dd\")"), txt("2028-01-02")));
}

TEST(TextFunctions, ApplyElementByElementInArrayContext) {
  Workbook wb;
  EvalContext ctx = wb.context();
  EvalResult got = eval_array(*parse_formula("LEFT({\"日本\",\"😀x\";\"\",\"ab\"},{1,2})").value(), ctx);
  ASSERT_TRUE(got.is_array());
  const ArrayValue& a = got.as_array();
  ASSERT_EQ(a.rows, 2u);
  ASSERT_EQ(a.cols, 2u);
  const CellValue want[] = {txt("日"), txt("😀x"), txt(""), txt("ab")};
  for (size_t i = 0; i < 4; ++i) EXPECT_TRUE(same_value(a.values[i], want[i]));
}

TEST(TextSplitColumns, Table) {
  struct SplitCase {
    std::string_view name;
    std::vector<std::string> rows;
    std::vector<std::string> delimiters;
    bool ignore_case;
    std::vector<std::vector<std::string>> want;
  };
  const SplitCase cases[] = {
      {"no rows", {}, {","}, false, {}},
      {"no delimiter inside", {"abc"}, {","}, false, {{"abc"}}},
      {"leading delimiter", {",a"}, {","}, false, {{"", "a"}}},
      {"longest delimiter wins", {"a,,b"}, {",", ",,"}, false, {{"a", "b"}}},
      {"no delimiters", {"a,b", ""}, {}, false, {{"a,b"}, {""}}},
      {"several rows", {"a,b", "日,😀,"}, {","}, false, {{"a", "b"}, {"日", "😀", ""}}},
      {"case", {"aXbxc"}, {"x"}, true, {{"a", "b", "c"}}},
      {"case kept", {"aXbxc"}, {"x"}, false, {{"aXb", "c"}}},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(std::string(c.name));
    EXPECT_EQ(textsplit_split_columns(c.rows, c.delimiters, c.ignore_case), c.want);
  }
}

}  // namespace
}  // namespace cmx::formula
