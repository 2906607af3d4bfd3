// Table parts: names, ranges, row counts, escapes, relationship order and the
// table and column limits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reader/tables.h"
#include "reader_test_util.h"
#include "test_util.h"

namespace cmx::reader {
namespace {

using testing::fixture;

constexpr const char* kTableType =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/table";

TEST(UnescapeXstring, Escapes) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"Sales_x0020_2024", "Sales 2024"},
      {"Q1_x000A_", "Q1\n"},
      {"_X0041_", "A"},
      {"_x0041_x0042_", "Ax0042_"},
      {"_x005F_x0041_", "_x0041_"},
      {"_xd83d_", "_xd83d_"},
      {"_x41_", "_x41_"},
      {"_x0041", "_x0041"},
      {"_x00e9_\u00e9", "\u00e9\u00e9"},
      {"_xFFFF_", "\uffff"},
      {"__x0041_", "_A"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(unescape_xstring(c.text), c.expected);
  }
}

TEST(ReadCountAttribute, Values) {
  EXPECT_EQ(read_count_attribute("0", 1), 0u);
  EXPECT_EQ(read_count_attribute(" 2 ", 1), 2u);
  EXPECT_EQ(read_count_attribute("+3", 1), 3u);
  EXPECT_EQ(read_count_attribute("-1", 1), 1u);
  EXPECT_EQ(read_count_attribute("1.5", 1), 1u);
  EXPECT_EQ(read_count_attribute("4294967296", 7), 7u);
  EXPECT_EQ(read_count_attribute(std::nullopt, 7), 7u);
}

TEST(ReadTablePart, Fixtures) {
  auto table = read_table_part(fixture("table_totals"), 2);
  ASSERT_TRUE(table.has_value());
  ASSERT_TRUE(table->has_value());
  EXPECT_EQ((*table)->name, "T1");
  EXPECT_EQ((*table)->sheet, 2u);
  EXPECT_EQ((*table)->header_rows, 1u);
  EXPECT_EQ((*table)->totals_rows, 1u);
  EXPECT_EQ((*table)->columns, (std::vector<std::string>{"a", ""}));

  table = read_table_part(fixture("table_escapes"), 0);
  ASSERT_TRUE(table.has_value() && table->has_value());
  EXPECT_EQ((*table)->name, "Sales 2024");
  EXPECT_EQ((*table)->columns, (std::vector<std::string>{"Q1\n", "_xd83d_"}));

  table = read_table_part(fixture("table_name_only"), 0);
  ASSERT_TRUE(table.has_value() && table->has_value());
  EXPECT_EQ((*table)->name, "Plain");
  EXPECT_EQ((*table)->range, cant_fail(model::parse_range("A1:B2")));
  EXPECT_EQ((*table)->header_rows, 2u);
  EXPECT_EQ((*table)->totals_rows, 0u);

  for (const char* none : {"table_no_name", "table_bad_ref"}) {
    SCOPED_TRACE(none);
    table = read_table_part(fixture(none), 0);
    ASSERT_TRUE(table.has_value());
    EXPECT_FALSE(table->has_value());
  }
}

TEST(ReadTablePart, RowCountsClamped) {
  struct Case {
    const char* ref;
    const char* header;
    const char* totals;
    uint32_t header_rows;
    uint32_t totals_rows;
  };
  const Case cases[] = {
      {"A1:C1", nullptr, "1", 1, 0},
      {"A1:C3", "99", nullptr, 3, 0},
      {"A1:C3", "-1", "5", 1, 2},
      {"A1:C3", "0", "2", 0, 2},
  };
  for (const Case& c : cases) {
    std::string part = std::string("<table ref=\"") + c.ref + "\" name=\"T\"";
    if (c.header) part += std::string(" headerRowCount=\"") + c.header + "\"";
    if (c.totals) part += std::string(" totalsRowCount=\"") + c.totals + "\"";
    part += "/>";
    SCOPED_TRACE(part);
    auto table = read_table_part(part, 0);
    ASSERT_TRUE(table.has_value() && table->has_value());
    EXPECT_EQ((*table)->header_rows, c.header_rows);
    EXPECT_EQ((*table)->totals_rows, c.totals_rows);
  }
}

TEST(ReadSheetTables, RelationshipsInIdOrder) {
  std::vector<opc::PackagePart> parts{
      {"xl/tables/table1.xml", "<table ref=\"A1:B2\" name=\"Two\"/>"},
      {"xl/tables/table2.xml", "<table ref=\"A1:B2\" name=\"Ten\"/>"},
      {"xl/tables/table3.xml", "<table ref=\"A1:B2\" name=\"External\"/>"},
  };
  opc::RelationshipMap rels;
  rels["rId2"] = {"../tables/table1.xml", kTableType, false};
  rels["rId10"] = {"../tables/table2.xml", kTableType, false};
  rels["rId3"] = {"../tables/table3.xml", kTableType, true};
  rels["rId4"] = {"../tables/missing.xml", kTableType, false};
  rels["rId5"] = {"../tables/table1.xml", "http://x/tables", false};
  std::vector<model::WorkbookTable> tables;
  absl::flat_hash_set<size_t> read_parts;
  ASSERT_TRUE(read_sheet_tables(opc::PartIndex(parts), rels, "xl/worksheets", 4, read_parts, tables).has_value());
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(tables[0].name, "Ten");
  EXPECT_EQ(tables[1].name, "Two");
  EXPECT_EQ(tables[1].sheet, 4u);
}

TEST(TableLimits, ColumnsAndTables) {
  std::string part = "<table ref=\"A1:B2\" name=\"T\"><tableColumns>";
  for (uint64_t idx = 0; idx < MAX_TABLE_COLUMNS; ++idx) part += "<tableColumn name=\"c\"/>";
  auto full = read_table_part(part + "</tableColumns></table>", 0);
  ASSERT_TRUE(full.has_value() && full->has_value());
  EXPECT_EQ((*full)->columns.size(), MAX_TABLE_COLUMNS);
  auto over = read_table_part(part + "<tableColumn/></tableColumns></table>", 0);
  ASSERT_FALSE(over.has_value());
  EXPECT_EQ(xml::parse_error_message(over.error()),
            "malformed spreadsheetml: table column count exceeded cap");

  std::vector<opc::PackagePart> parts{{"xl/tables/table1.xml", "<table ref=\"A1\" name=\"T\"/>"}};
  opc::RelationshipMap rels;
  rels["rId1"] = {"../tables/table1.xml", kTableType, false};
  std::vector<model::WorkbookTable> tables(MAX_TABLES - 1);
  const opc::PartIndex index(parts);
  absl::flat_hash_set<size_t> first_sheet;
  ASSERT_TRUE(read_sheet_tables(index, rels, "xl/worksheets", 0, first_sheet, tables).has_value());
  EXPECT_EQ(tables.size(), MAX_TABLES);
  absl::flat_hash_set<size_t> other_workbook;
  auto result = read_sheet_tables(index, rels, "xl/worksheets", 0, other_workbook, tables);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(xml::parse_error_message(result.error()), "malformed spreadsheetml: table count exceeded cap");
}

// A table part named by many relationships, of one sheet or of several, is
// read once: the caps of one part then bound the whole package.
TEST(ReadSheetTables, PartNamedManyTimesIsReadOnce) {
  std::string part = "<table ref=\"A1:B2\" name=\"T\"><tableColumns>";
  for (int idx = 0; idx < 1000; ++idx) part += "<tableColumn name=\"c\"/>";
  part += "</tableColumns></table>";
  std::vector<opc::PackagePart> parts{{"xl/tables/table1.xml", part}};
  opc::RelationshipMap rels;
  for (int idx = 0; idx < 500; ++idx) {
    rels["rId" + std::to_string(idx)] = {idx % 2 ? "../tables/table1.xml" : "/xl/tables/table1.xml", kTableType,
                                         false};
  }
  const opc::PartIndex index(parts);
  absl::flat_hash_set<size_t> read_parts;
  std::vector<model::WorkbookTable> tables;
  for (uint32_t sheet = 0; sheet < 3; ++sheet) {
    ASSERT_TRUE(read_sheet_tables(index, rels, "xl/worksheets", sheet, read_parts, tables).has_value());
  }
  ASSERT_EQ(tables.size(), 1u);
  EXPECT_EQ(tables[0].sheet, 0u);
  EXPECT_EQ(tables[0].columns.size(), 1000u);
}

}  // namespace
}  // namespace cmx::reader
