// Date, working-day, time and financial functions through the evaluator:
// generated cases (eval_date_cases.inc, from Python's datetime and math) in
// both date systems, then the calendar's own edges by hand.
#include <gtest/gtest.h>

#include <string>

#include "eval_harness.h"
#include "formula/array_eval.h"

namespace cmx::formula {
namespace {

using namespace testing;

struct DateCase {
  const char* formula;
  double want;
  const char* error;  // the expected error text, or null for a Number
};

#include "eval_date_cases.inc"

using Case = FormulaCase;

const CellValue kValue = err(CellErrorCode::Value);
const CellValue kNum = err(CellErrorCode::Num);
const CellValue kNa = err(CellErrorCode::NA);
const CellValue kDiv0 = err(CellErrorCode::Div0);

TEST(DateFunctions, AgreeWithPythonInBothDateSystems) {
  // No date or time function reads the workbook's date system.
  for (model::DateSystem system : {model::DateSystem::V1900, model::DateSystem::V1904}) {
    Workbook wb;
    wb.model.date_system = system;
    for (const DateCase& c : kDateCases) {
      SCOPED_TRACE(c.formula);
      CellValue want = c.error != nullptr
                           ? err(model::error_code_from_text(c.error).value())
                           : num(c.want == 0 ? 0.0 : c.want);
      CellValue got = wb.eval(c.formula);
      // -0 and 0 are one answer here; the generator cannot tell them apart.
      if (got.is_number() && got.as_number() == 0) got = num(0);
      EXPECT_TRUE(same_value(got, want));
    }
  }
}

TEST(DateFunctions, ApplyElementByElementInArrayContext) {
  Workbook wb;
  EvalContext ctx = wb.context();
  EvalResult got = eval_array(*parse_formula("EDATE({45322;60},{1,-1})").value(), ctx);
  ASSERT_TRUE(got.is_array());
  const ArrayValue& a = got.as_array();
  ASSERT_EQ(a.rows, 2u);
  ASSERT_EQ(a.cols, 2u);
  // 2024-01-31 plus and minus a month; from 1900-02-29 the day 29 is kept.
  const CellValue want[] = {num(45351), num(45291), num(89), num(29)};
  for (size_t i = 0; i < 4; ++i) EXPECT_TRUE(same_value(a.values[i], want[i]));
}

TEST(DateFunctions, DateAndItsParts) {
  Workbook wb;
  const Case cases[] = {
      {"DATE(2024,13,1)", num(45658)},
      {"DATE(2024,1,0)", num(45291)},
      {"DATE(1900,2,29)", num(60)},
      {"DATE(1900,3,0)", num(59)},
      {"DATE(1900,1,60)", num(61)},
      {"DATE(0,1,1)", num(1)},
      {"DATE(99,1,1)", num(36161)},
      {"DATE(1899,1,1)", num(693598)},
      {"DATE(-1,1,1)", kNum},
      {"DATE(1900,1,0)", num(0)},
      {"DATE(1900,1,-1)", kNum},
      {"DATE(9999,12,31)", num(2958465)},
      {"DATE(10000,1,1)", num(2958466)},
      {"DATE(2024.9,1.9,1.9)", num(45292)},
      {"DATE(\"2024\",\"1\",\"1\")", num(45292)},
      {"DATE(2024,1,1E300)", kNum},  // far past any day number
      {"DATE(1E300,1,1)", kNum},
      {"DATE(2024,1/0,NA())", kDiv0},
      {"DATE(2024,1)", kValue},
      {"YEAR(0)", num(1900)},
      {"MONTH(0)", num(1)},
      {"DAY(0)", num(0)},
      {"DAY(60)", num(29)},
      {"MONTH(60)", num(2)},
      {"DAY(61)", num(1)},
      {"MONTH(61)", num(3)},
      {"DAY(59.99)", num(28)},
      {"YEAR(-1)", kNum},
      {"YEAR(-0.5)", kNum},  // floored to day -1
      {"YEAR(2958465)", num(9999)},
      {"YEAR(2958466)", num(10000)},
      {"YEAR(3000000)", num(10113)},
      {"YEAR(\"2024-01-15 10:30\")", num(2024)},
      {"YEAR(\"x\")", kValue},
      {"YEAR(TRUE)", num(1900)},
      {"YEAR()", kValue},
      {"EDATE(60,0)", num(59)},  // February 1900 has 28 days by the leap rule
      {"EOMONTH(59,0)", num(59)},
      {"EOMONTH(60,0)", num(59)},
      {"EDATE(45322,1)", num(45351)},  // 2024-01-31 to 2024-02-29
      {"EDATE(0,1)", num(31)},         // day 0 of February 1900
      {"EDATE(0,-1)", kNum},
      {"EOMONTH(45292,-1)", num(45291)},
      {"EDATE(-1,1)", kNum},
      {"EDATE(45292,1E300)", kNum},
      {"EDATE(45292.9,1.9)", num(45323)},
      {"EOMONTH(2958465,0)", num(2958465)},
      {"EOMONTH(2958465,1)", num(2958496)},
      {"EDATE(45292)", kValue},
  };
  run_cases(wb, cases);
}

TEST(DateFunctions, DifferencesAndWeeks) {
  Workbook wb;
  const Case cases[] = {
      {"DATEDIF(44957,44986,\"md\")", num(-2)},  // 2023-01-31 to 2023-03-01
      {"DATEDIF(43890,44255,\"y\")", num(0)},    // 2020-02-29 to 2021-02-28
      {"DATEDIF(45000,45332,\"yd\")", num(332)},
      {"DATEDIF(2,1,\"d\")", kNum},
      {"DATEDIF(-1,1,\"d\")", kNum},
      {"DATEDIF(1,2,\"x\")", kValue},
      {"DATEDIF(1,2,1)", kValue},
      {"DATEDIF(1,2,\"\")", kValue},
      {"DATEDIF(59,61,\"d\")", num(2)},
      {"DATEDIF(0,61,\"m\")", num(2)},
      {"DATEDIF(1,2,1/0)", kDiv0},
      {"DATEDIF(NA(),1/0,\"d\")", kNa},
      {"DATEDIF(\"2024-01-01\",\"2025-01-01\",\"Y\")", num(1)},
      {"DAYS(\"2024-03-01\",\"2024-02-01\")", num(29)},
      {"DAYS(1,2)", num(-1)},
      {"DAYS(-1,0)", kNum},
      {"DAYS(2.9,1)", num(1)},
      {"DAYS(\"x\",1)", kValue},
      {"DAYS(\"5\",1)", kValue},  // only date texts are read
      {"DAYS(TRUE,)", num(1)},
      {"DAYS(NA(),1/0)", kNa},
      {"DAYS(1)", kValue},
      {"WEEKDAY(1)", num(1)},  // the calendar's day 1 is a Sunday
      {"WEEKDAY(0)", num(7)},
      {"WEEKDAY(-1)", num(6)},
      {"WEEKDAY(60)", num(4)},
      {"WEEKDAY(61)", num(5)},
      {"WEEKDAY(2,3)", num(0)},
      {"WEEKDAY(1,4)", kNum},
      {"WEEKDAY(-1E300)", num(6)},  // saturated, and the cycle goes on below 0
      {"WEEKDAY(45292,2)", num(1)},
      {"WEEKDAY(45292,17)", num(2)},
      {"WEEKNUM(0)", num(0)},
      {"WEEKNUM(45292)", num(1)},
      {"WEEKNUM(45292,2)", num(1)},
      {"WEEKNUM(45298)", num(2)},
      {"WEEKNUM(45298,2)", num(1)},
      {"WEEKNUM(45292,5)", kNum},
      {"WEEKNUM(-1)", kNum},
      {"WEEKNUM(-1,5)", kNum},
      {"WEEKNUM(44199,21)", num(53)},
      {"ISOWEEKNUM(1)", kNum},
      {"ISOWEEKNUM(0)", kNum},
      {"ISOWEEKNUM(2)", num(1)},
      {"ISOWEEKNUM(44199)", num(53)},
      {"ISOWEEKNUM(2958465)", num(52)},
      {"ISOWEEKNUM()", kValue},
      {"ISOWEEKNUM(1E300)", kNum},  // beyond the years a week is computed for
  };
  run_cases(wb, cases);
}

TEST(DateFunctions, YearFractions) {
  Workbook wb;
  const Case cases[] = {
      {"YEARFRAC(44927,45108,1)", num(181.0 / 365)},
      {"YEARFRAC(45292,45474,1)", num(182.0 / 366)},
      {"YEARFRAC(44986,45352,1)", num(366.0 / 366)},
      {"YEARFRAC(45352,44986,1)", num(366.0 / 366)},  // order does not matter
      {"YEARFRAC(45322,45382)", num(60.0 / 360)},
      {"YEARFRAC(45322,45382,0)", num(60.0 / 360)},
      {"YEARFRAC(45322,45382,)", num(60.0 / 360)},
      {"YEARFRAC(45322,45382,4)", num(60.0 / 360)},
      {"YEARFRAC(1,2,5)", kNum},
      {"YEARFRAC(1,2,-1)", kNum},
      {"YEARFRAC(-1,2)", kNum},
      {"YEARFRAC(0,366,1)", num(366.0 / 365)},  // day 0 counts as 1900-01-01
      {"YEARFRAC(0,0,1)", num(0)},
      {"YEARFRAC(NA(),1/0)", kNa},
      {"YEARFRAC(1)", kValue},
  };
  run_cases(wb, cases);
}

TEST(DateFunctions, YearFractionOverBillionsOfYearsIsExactAndImmediate) {
  // The average year length of 1900 to year Y, summed in closed form: the
  // serial 9e18 lies in a year near 2.46e16.
  Workbook wb;
  CellValue got = wb.eval("YEARFRAC(1,9E18,1)");
  ASSERT_TRUE(got.is_number());
  EXPECT_NEAR(got.as_number(), 9e18 / 365.2425, 9e18 / 365.2425 * 1e-12);
  EXPECT_TRUE(same_value(wb.eval("YEARFRAC(1,1E300,1)"), wb.eval("YEARFRAC(1,1E301,1)")));
  CellValue thirty = wb.eval("YEARFRAC(1,9E18,0)");
  ASSERT_TRUE(thirty.is_number());
  EXPECT_GT(thirty.as_number(), 2e16);
}

TEST(WorkingDays, Table) {
  Workbook wb;
  wb.set(0, "A1", num(45296));
  wb.set(0, "A2", num(45296));  // the same holiday twice
  wb.set(0, "A4", txt("45295"));
  wb.set(0, "B1", txt("2024-01-01"));
  wb.set(0, "C1", err(CellErrorCode::Ref));
  const Case cases[] = {
      {"NETWORKDAYS(45292,45296)", num(5)},
      {"NETWORKDAYS(45296,45292)", num(-5)},
      {"NETWORKDAYS(45297,45297)", num(0)},
      {"NETWORKDAYS(45292,45296,A1:A4)", num(3)},  // text 45295 is a day number; A3 is skipped
      {"NETWORKDAYS(45292,45296,45297)", num(5)},  // a Saturday holiday
      {"NETWORKDAYS(45292,45296,45400)", num(5)},
      {"NETWORKDAYS(45292,45296,B1)", kValue},     // date texts are not read
      {"NETWORKDAYS(45292,45296,C1)", err(CellErrorCode::Ref)},
      {"NETWORKDAYS(45292,45296,{45293,TRUE})", num(4)},
      {"NETWORKDAYS(45292,45296,{45293,\"\"})", kValue},
      {"NETWORKDAYS(-1,45296)", kNum},
      {"NETWORKDAYS(0,6)", num(5)},
      {"NETWORKDAYS(0,9E18)", num(9e18 / 7 * 5 + 1)},
      {"NETWORKDAYS(0,1E300)", num(6588122883467697005.0)},  // through the last 64-bit day
      {"NETWORKDAYS(1/0,NA())", kDiv0},
      {"NETWORKDAYS(1)", kValue},
      {"NETWORKDAYS.INTL(45292,45298,\"0000000\")", num(7)},
      {"NETWORKDAYS.INTL(45292,45298,\"1111111\")", num(0)},
      {"NETWORKDAYS.INTL(45292,45298,\"000001\")", kValue},
      {"NETWORKDAYS.INTL(45292,45298,\"0000012\")", kValue},
      {"NETWORKDAYS.INTL(45292,45298,\"1\")", kValue},
      {"NETWORKDAYS.INTL(45292,45298,\"\")", kValue},
      {"NETWORKDAYS.INTL(45292,45298,0)", kNum},
      {"NETWORKDAYS.INTL(45292,45298,8)", kNum},
      {"NETWORKDAYS.INTL(45292,45298,18)", kNum},
      {"NETWORKDAYS.INTL(45292,45298,11)", num(6)},  // Saturday stays a workday
      {"NETWORKDAYS.INTL(45292,45298,TRUE)", num(5)},
      {"NETWORKDAYS.INTL(45292,45298,)", num(5)},
      {"NETWORKDAYS.INTL(45292,45298,Z99)", num(5)},
      {"NETWORKDAYS.INTL(1/0,45298,8)", kNum},  // the weekend is read first
      {"NETWORKDAYS.INTL(45292,45298,1,45292)", num(4)},
      {"NETWORKDAYS.INTL(45292)", kValue},
      {"WORKDAY(45296,1)", num(45299)},
      {"WORKDAY(45299,-1)", num(45296)},
      {"WORKDAY(45297,5)", num(45303)},
      {"WORKDAY(45297,5,45400)", num(45303)},
      {"WORKDAY(45292,5)", num(45299)},
      {"WORKDAY(45292,5,A1:A4)", num(45301)},
      {"WORKDAY(45298.7,0)", num(45298)},  // a Sunday, unchanged
      {"WORKDAY(45296,0.9)", num(45296)},
      {"WORKDAY(45296,-0.9)", num(45296)},
      {"WORKDAY(2958465,1)", kNum},
      {"WORKDAY(2958465,1,45292)", kNum},
      {"WORKDAY(2958466,0)", num(2958466)},
      {"WORKDAY(2958470,-1)", kNum},
      {"WORKDAY(2958470,-1,45292)", kNum},
      {"WORKDAY(0,-1)", kNum},
      {"WORKDAY(0,-1,45292)", kNum},
      {"WORKDAY(-1,1)", kNum},
      {"WORKDAY(1,1E300)", kNum},
      {"WORKDAY(1E300,1)", kNum},
      {"WORKDAY(1E300,-1)", kNum},
      {"WORKDAY(2958466,-1)", num(2958465)},
      {"WORKDAY(1,-1E300)", kNum},
      {"WORKDAY(1,2113190)", num(2958465)},  // the last day that can be reached
      {"WORKDAY(1,2113191)", kNum},
      {"WORKDAY(1,2113190,45292)", kNum},  // with holidays the walk runs out of budget
      {"WORKDAY(45292,1,B1)", kValue},
      {"WORKDAY(45292,1/0,NA())", kDiv0},
      {"WORKDAY.INTL(45292,1,\"1111111\")", kValue},
      {"WORKDAY.INTL(45292,0,\"1111111\")", kValue},
      {"WORKDAY.INTL(45292,1,\"0111111\")", num(45299)},
      {"WORKDAY.INTL(45292,-1,\"0111111\",45285)", num(45278)},
      {"WORKDAY.INTL(45292,1,17)", num(45293)},
      {"WORKDAY.INTL(45292,1,\"x\")", kValue},
      {"WORKDAY.INTL(45292)", kValue},
  };
  run_cases(wb, cases);
}

TEST(WorkingDays, LongStepsSkipWeeksOrPayForEveryDayVisited) {
  Workbook wb;
  wb.set(0, "A1", num(5));
  EvalContext plain = wb.context();
  // 1,000,000 workdays: 199,999 whole weeks skipped, a few days walked.
  EXPECT_TRUE(same_value(wb.eval("WORKDAY(1,1000000)", plain), num(1399999)));
  EXPECT_FALSE(plain.shared->limited);
  EXPECT_GT(plain.shared->cells_left, kFormulaCellBudget - 10);
  // With holidays the days a walk would visit are charged: 1.4 million of
  // them exhaust the formula's budget.
  EvalContext held = wb.context();
  EXPECT_TRUE(same_value(wb.eval("WORKDAY(1,1000000,A1)", held), kNum));
  EXPECT_TRUE(held.shared->limited);
  EvalContext fits = wb.context();
  EXPECT_TRUE(same_value(wb.eval("WORKDAY(1,700000,A1)", fits), num(980002)));
  EXPECT_EQ(fits.shared->cells_left, kFormulaCellBudget - 1 - 980001);  // A1, then the days
  EXPECT_FALSE(fits.shared->limited);
}

TEST(WorkingDays, ManyHolidaysCostThePriceOfTheirList) {
  // A holiday on every weekday of forty years: the step and the count are
  // answered from the sorted list, not by visiting the days.
  Workbook wb;
  const int64_t first = 45292;
  uint32_t row = 0;
  for (int64_t day = first; day < first + 14610; ++day) {
    if ((day % 7 + 5) % 7 >= 5) continue;  // Saturday and Sunday
    if (day % 3 != 0) continue;
    wb.set(0, "A" + std::to_string(++row), num(static_cast<double>(day)));
  }
  int64_t open = 0;
  for (int64_t day = first; day < first + 14610; ++day) {
    if ((day % 7 + 5) % 7 < 5 && day % 3 != 0) ++open;
  }
  const std::string span = "NETWORKDAYS(" + std::to_string(first) + "," +
                           std::to_string(first + 14609) + ",A1:A" + std::to_string(row) + ")";
  EXPECT_TRUE(same_value(wb.eval(span), num(static_cast<double>(open))));
  const std::string step = "WORKDAY(" + std::to_string(first - 1) + "," + std::to_string(open) +
                           ",A1:A" + std::to_string(row) + ")";
  int64_t last_open = first + 14609;
  while (!((last_open % 7 + 5) % 7 < 5 && last_open % 3 != 0)) --last_open;
  EXPECT_TRUE(same_value(wb.eval(step), num(static_cast<double>(last_open))));
}

TEST(TimeFunctions, Table) {
  Workbook wb;
  wb.now = 45292.75;
  const Case cases[] = {
      {"TIME(12,0,0)", num(0.5)},
      {"TIME(25,0,0)", num(90000.0 / 86400 - 1)},  // 1/24 up to the last bits
      {"TIME(0,0,-1)", num(1 - 1.0 / 86400)},
      {"TIME(-1,0,0)", num(23.0 / 24)},
      {"TIME(1.5,0,0)", num(0.0625)},
      {"TIME(0,0,86400)", num(0)},
      {"TIME(0,0,0)", num(0)},
      {"TIME(\"12\",\"30\",TRUE)", num((30 * 60 + 12 * 3600 + 1) / 86400.0)},
      {"TIME(1E308,1E308,0)", kNum},
      {"TIME(1/0,NA(),0)", kDiv0},
      {"TIME(0,NA(),1/0)", kNa},
      {"TIME(1,2)", kValue},
      {"HOUR(0.5)", num(12)},
      {"HOUR(-0.25)", num(18)},
      {"MINUTE(0.75)", num(0)},
      {"SECOND(1/86400)", num(1)},
      {"HOUR(0.9999999)", num(0)},
      {"MINUTE(0.9999999)", num(0)},
      {"SECOND(0.9999999)", num(0)},
      {"HOUR(\"12:30\")", num(12)},
      {"MINUTE(\"12:30\")", num(30)},
      {"HOUR(\"2024-01-15\")", num(0)},
      {"HOUR(1E300)", num(0)},
      {"HOUR(\"x\")", kValue},
      {"HOUR()", kValue},
      {"TIMEVALUE(\"10:30\")", num(0.4375)},
      {"TIMEVALUE(\"2024-01-15 10:30 PM\")", num(0.9375)},
      {"TIMEVALUE(\" 10:30 \")", num(0.4375)},
      {"TIMEVALUE(\"25:00\")", num(25.0 / 24 - 1)},
      {"TIMEVALUE(\"1030\")", kValue},
      {"TIMEVALUE(\"10:3x\")", kValue},
      {"TIMEVALUE(0.5)", kValue},
      {"TIMEVALUE(Z99)", kValue},
      {"TIMEVALUE(1/0)", kDiv0},
      {"TIMEVALUE()", kValue},
      {"DATEVALUE(45292)", kValue},
      {"DATEVALUE(\"2024-01-15 10:30\")", num(45306)},
      {"DATEVALUE(\"2024-01-15\")", num(45306)},
      {"DATEVALUE(\"x\")", kValue},
      {"DATEVALUE(NA())", kNa},
      {"DATEVALUE(\"a\",\"b\")", kValue},
      {"TODAY()", num(45292)},
      {"NOW()", num(45292.75)},
      {"TODAY(1)", kValue},
  };
  run_cases(wb, cases);
}

TEST(FinancialFunctions, Table) {
  Workbook wb;
  wb.set(0, "A1", num(100));
  wb.set(0, "A2", txt("50"));
  wb.set(0, "A3", num(100));
  wb.set(0, "B1", err(CellErrorCode::Ref));
  const Case cases[] = {
      {"FV(0.1,2,-100)", num(210.00000000000017)},
      {"FV(0.1,2,-100,,1)", num(231.00000000000023)},
      {"FV(0,10,-5,-100)", num(150)},
      {"PV(0.1,2,-100)", num(173.55371900826458)},
      {"NPV(0.1,100,100)", num(173.55371900826447)},  // another order of operations
      {"PV(0,3,-10,-5)", num(35)},
      {"PMT(0.1,2,1000)", num(-576.1904761904758)},
      {"PMT(0.1,2,1000,0,1)", num(-523.8095238095234)},
      {"PMT(0,4,1000)", num(-250)},
      {"PMT(0.1,0,1000)", kNum},
      {"PMT(0,0,1000)", kNum},
      {"NPER(0.1,-200,1000)", num(7.272540897341713)},
      {"NPER(0.1,100,1000)", num(-7.272540897341713)},
      {"NPER(0.1,-100,1000)", kNum},
      {"NPER(0,-100,1000)", num(10)},
      {"NPER(0,0,1000)", kNum},
      {"NPV(0.1,-1000,500,600)", num(-45.07888805409476)},
      {"NPV(-1,5)", kNum},
      {"NPV(-1,1/0)", kNum},  // refused before the values are read
      {"NPV(0.1)", kValue},
      {"NPV(0.1,A1:A3)", num(100 / 1.1 + 100 / 1.1 / 1.1)},  // the text cell is skipped
      {"NPV(0.1,A1:B1)", err(CellErrorCode::Ref)},
      {"NPV(0.1,\"x\")", kValue},
      {"NPV(0.1,Z99)", num(0)},
      {"FV(0.1,2,-100,\"x\")", kValue},
      {"FV(0.1,2,-100,\"2024-01-01\")", kValue},  // no date reading in optional arguments
      {"FV(\"x\",2,-100)", kValue},
      {"FV(0.1,2,-100,,1)", wb.eval("FV(0.1,2,-100,0,1)")},
      {"FV(0.1,2,-100,0,2)", wb.eval("FV(0.1,2,-100,0,1)")},
      {"FV(0.1,2,-100,0,0.0)", wb.eval("FV(0.1,2,-100)")},
      {"FV(0.1,2,-100,0,-1)", wb.eval("FV(0.1,2,-100,0,1)")},
      {"FV(1/0,NA(),-100)", kDiv0},
      {"FV(0.1,2,-100,NA(),1/0)", kNa},
      {"FV(0.1,2,-100,0,B1)", err(CellErrorCode::Ref)},
      {"FV(1,2,3,4,5,6)", kValue},
      {"FV(1,2)", kValue},
      {"FV(1E300,2,-100)", kNum},
      {"PV(-1,2,-100)", kNum},
  };
  run_cases(wb, cases);
}

TEST(FinancialFunctions, TooManyArgumentsAreNotEvaluated) {
  Workbook wb;
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval("FV(1,2,3,4,5,FOO())", ctx), kValue));
  EXPECT_EQ(ctx.shared->unknown_calls, 0u);
}

}  // namespace
}  // namespace cmx::formula
