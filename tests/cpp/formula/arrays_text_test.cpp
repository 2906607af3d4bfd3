// CONCAT, CONCATENATE and TEXTJOIN over computed arrays, and TEXTSPLIT.
#include <gtest/gtest.h>

#include <string>

#include "array_fn_cases.h"

namespace cmx::formula::testing {
namespace {

// A1 "x", B1 "y"; C1 a text of 32,767 characters; C2 one of 32,766.
struct Sheet : Workbook {
  Sheet() {
    set(0, "A1", txt("x"));
    set(0, "B1", txt("y"));
    set(0, "C1", txt(std::string(32767, 'a')));
    set(0, "C2", txt(std::string(32766, 'a')));
  }
};

TEST(ArrayJoin, Table) {
  Sheet wb;
  const ArrayFnCase cases[] = {
      {"CONCAT({\"a\",\"b\"},1)", 1, 1, {txt("ab1")}},
      {"CONCAT(\"a\",\"b\")", 1, 1, {txt("ab")}},
      {"CONCAT({1,#N/A})", 1, 1, {na()}},
      {"CONCATENATE(A1:B1)", 1, 1, {txt("xy")}},
      {"_xlfn.CONCAT({1;2}*2,TRUE,)", 1, 1, {txt("24TRUE")}},
      {"TEXTJOIN(\"-\",TRUE,{\"a\",\"\",\"b\"})", 1, 1, {txt("a-b")}},
      {"TEXTJOIN(\"-\",,{\"a\",\"\",\"b\"})", 1, 1, {txt("a-b")}},
      {"TEXTJOIN(\"-\",FALSE,{\"a\",\"\",\"b\"})", 1, 1, {txt("a--b")}},
      {"TEXTJOIN({\"-\",\"+\"},TRUE,{\"a\",\"b\",\"c\"})", 1, 1, {txt("a-b-c")}},
      {"TEXTJOIN(\", \",TRUE,{1,2},\"z\")", 1, 1, {txt("1, 2, z")}},
      {"TEXTJOIN(1/0,TRUE,{1,2})", 1, 1, {div0()}},
      {"TEXTJOIN(\"-\",TRUE,{1,#N/A})", 1, 1, {na()}},
      {"TEXTJOIN(\"-\",TRUE)", 1, 1, {value_error()}},
      // 32,767 characters are accepted, one more is not.
      {"LEN(CONCAT(C2,{\"b\"}))", 1, 1, {num(32767)}},
      {"CONCAT(C1,{\"b\"})", 1, 1, {value_error()}},
      {"TEXTJOIN(\"-\",TRUE,C2,{\"\"})", 1, 1, {txt(std::string(32766, 'a'))}},
      {"LEN(TEXTJOIN(\"-\",FALSE,C2,{\"\"}))", 1, 1, {num(32767)}},
      {"TEXTJOIN(\"--\",FALSE,C2,{\"\"})", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases, /*scalar_too=*/false);
}

TEST(TextSplit, Table) {
  Sheet wb;
  const ArrayFnCase cases[] = {
      {"TEXTSPLIT(\"a,b;c\",\",\",\";\")", 2, 2, {txt("a"), txt("b"), txt("c"), na()}},
      {"TEXTSPLIT(\"a,b;c\",\",\",\";\",,,\"\")", 2, 2, {txt("a"), txt("b"), txt("c"), txt("")}},
      {"TEXTSPLIT(\"a,,b\",\",\")", 1, 3, {txt("a"), txt(""), txt("b")}},
      {"TEXTSPLIT(\"a,,b\",\",\",,TRUE)", 1, 2, {txt("a"), txt("b")}},
      {"TEXTSPLIT(\",\",\",\",,TRUE)", 1, 1, {txt("")}},
      {"TEXTSPLIT(\"\",\",\")", 1, 1, {na()}},
      {"TEXTSPLIT(\"abc\",\",\")", 1, 1, {txt("abc")}},
      {"TEXTSPLIT(\"abc\")", 1, 1, {txt("abc")}},
      {"TEXTSPLIT(\"aXbxc\",\"x\")", 1, 2, {txt("aXb"), txt("c")}},
      {"TEXTSPLIT(\"aXbxc\",\"x\",,,1)", 1, 3, {txt("a"), txt("b"), txt("c")}},
      {"TEXTSPLIT(\"a--b\",{\"-\",\"--\"})", 1, 2, {txt("a"), txt("b")}},
      {"TEXTSPLIT(\"a;b;;c\",,\";\",TRUE)", 3, 1, {txt("a"), txt("b"), txt("c")}},
      {"TEXTSPLIT(\"a1b2c\",{1,2})", 1, 3, {txt("a"), txt("b"), txt("c")}},
      {"TEXTSPLIT(12.5,\".\")", 1, 2, {txt("12"), txt("5")}},
      {"TEXTSPLIT(\"a,b\",{\",\",#N/A})", 1, 1, {na()}},
      {"TEXTSPLIT(1/0,\",\")", 1, 1, {div0()}},
      {"TEXTSPLIT(\"a,b\",\",\",,,,1/0)", 1, 1, {div0()}},
      {"TEXTSPLIT()", 1, 1, {value_error()}},
      {"TEXTSPLIT(\"a\",\",\",\";\",FALSE,0,\"\",1)", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases);
}

}  // namespace
}  // namespace cmx::formula::testing
