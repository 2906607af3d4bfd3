// The package's entry rule: counts, names, duplicates, the inflated budget,
// refusals passed on from the ZIP reader, and part lookup.
#include "opc/package_archive.h"

#include <gtest/gtest.h>

#include "zip_builder.h"

namespace cmx::opc {
namespace {

using testing::build_zip;
using testing::TestEntry;

std::string read_message(const std::string& zip, const PackageLimits& limits = {}) {
  auto parts = read_package_archive(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(zip.data()), zip.size()), limits);
  if (parts.has_value()) return "ok";
  return package_error_message(parts.error());
}

std::vector<TestEntry> named(std::initializer_list<std::string> names) {
  std::vector<TestEntry> entries;
  for (const std::string& name : names) entries.push_back({.name = name, .content = "x"});
  return entries;
}

TEST(NormalizeEntryPath, Table) {
  struct Case {
    std::string_view name;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"xl\\worksheets\\Sheet1.xml", "xl/worksheets/sheet1.xml"},
      {"./xl//styles.xml", "xl/styles.xml"},
      {"docProps/", "docprops"},
      {"a/b:c", "a/b:c"},
      {"a/./b.xml", "a/b.xml"},
      {"\xCE\xA3\xCE\x9F\xCE\xA3", "\xCF\x83\xCE\xBF\xCF\x82"},  // final sigma
      {"\xC3\x84/B.xml", "\xC3\xA4/b.xml"},
      {"/xl/a.xml", std::nullopt},
      {"\\xl\\a.xml", std::nullopt},
      {"C:/a.xml", std::nullopt},
      {"a:b", std::nullopt},
      {"a/../b", std::nullopt},
      {"a/..", std::nullopt},
      {"", std::nullopt},
      {".", std::nullopt},
      {"./.", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(normalize_entry_path(c.name), c.expected);
  }
}

TEST(ReadPackageArchive, KeepsFilesInOrderAndSkipsDirectories) {
  const std::string zip = build_zip({{.name = "xl/", .content = ""},
                                     {.name = "xl/workbook.xml", .content = "<w/>"},
                                     {.name = "[Content_Types].xml", .content = "<T/>", .method = 0},
                                     {.name = "../evil/", .content = ""}});
  auto parts = read_package_archive(zip);
  ASSERT_TRUE(parts.has_value()) << package_error_message(parts.error());
  ASSERT_EQ(parts->size(), 2u);
  EXPECT_EQ((*parts)[0], (PackagePart{"xl/workbook.xml", "<w/>"}));
  EXPECT_EQ((*parts)[1], (PackagePart{"[Content_Types].xml", "<T/>"}));
}

TEST(ReadPackageArchive, EntryCountIncludesDirectories) {
  for (size_t count : {size_t{5000}, size_t{5001}}) {
    SCOPED_TRACE(count);
    std::vector<TestEntry> entries;
    for (size_t i = 0; i < count; ++i) {
      const bool dir = i % 10 == 0;
      std::string name = std::to_string(i);
      name.append(dir ? "/" : ".xml");
      entries.push_back({.name = std::move(name), .content = dir ? "" : "x", .method = 0});
    }
    EXPECT_EQ(read_message(build_zip(entries)), count == 5000 ? "ok" : "zip entry count exceeds 5000");
  }
}

TEST(ReadPackageArchive, RefusesUnsafeAndDuplicateNames) {
  struct Case {
    std::string_view label;
    std::vector<TestEntry> entries;
    std::string_view message;
  };
  const Case cases[] = {
      {"case", named({"xl/Workbook.xml", "XL/workbook.xml"}),
       "duplicate normalized zip entry path: XL/workbook.xml"},
      {"backslash", named({"xl\\a.xml", "xl/a.xml"}), "duplicate normalized zip entry path: xl/a.xml"},
      {"dot segment", named({"./a.xml", "a.xml"}), "duplicate normalized zip entry path: a.xml"},
      {"same name twice", named({"a.xml", "a.xml"}), "duplicate normalized zip entry path: a.xml"},
      {"dot-dot file", named({"../evil"}), "unsafe zip entry path: ../evil"},
      {"empty name", named({""}), "unsafe zip entry path: "},
      {"drive", named({"C:/x.xml"}), "unsafe zip entry path: C:/x.xml"},
      {"colon second", named({"a:b"}), "unsafe zip entry path: a:b"},
      {"absolute", named({"/x.xml"}), "unsafe zip entry path: /x.xml"},
      {"absolute backslash", named({"\\x.xml"}), "unsafe zip entry path: \\x.xml"},
      {"safe colon and dot", named({"a/b:c", "a/./b.xml"}), "ok"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(read_message(build_zip(c.entries)), c.message);
  }
}

TEST(ReadPackageArchive, PassesOnZipRefusals) {
  struct Case {
    std::string_view label;
    std::string zip;
    std::string_view message;
  };
  std::string truncated = build_zip(named({"a.xml", "b.xml"}));
  truncated.resize(truncated.size() - 5);
  const Case cases[] = {
      {"not a zip", "hello", "bad zip: no end of central directory record"},
      {"truncated", truncated, "bad zip: no end of central directory record"},
      {"encrypted", build_zip({{.name = "a.xml", .content = "x", .flags = 1}}),
       "bad zip entry: encrypted entries are not supported"},
      {"unknown method", build_zip({{.name = "a.xml", .content = "x", .method = 99}}),
       "bad zip entry: unsupported compression method 99"},
      {"bad crc", build_zip({{.name = "a.xml", .content = "abc", .crc = 7}}),
       "read failed for a.xml: invalid checksum"},
      // The entry is opened before its name is judged: an encrypted
      // directory is refused too.
      {"encrypted directory", build_zip({{.name = "d/", .content = "", .flags = 1}}),
       "bad zip entry: encrypted entries are not supported"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(read_message(c.zip), c.message);
  }
}

TEST(ReadPackageArchive, TruncatedEntryData) {
  struct Case {
    std::string_view label;
    TestEntry entry;
    std::string_view message;
  };
  const std::string text(4000, 't');
  const Case cases[] = {
      {"deflate stream cut short", {.name = "a.xml", .content = text, .listed_compressed_size = 10},
       "read failed for a.xml: corrupt deflate stream"},
      {"stored sizes differ", {.name = "a.xml", .content = text, .method = 0, .listed_compressed_size = 10},
       "bad zip entry: stored entry 0 has differing sizes"},
      {"data past the end", {.name = "a.xml", .content = text, .listed_compressed_size = 1 << 20},
       "bad zip entry: data of entry 0 lies outside the archive"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(read_message(build_zip({c.entry})), c.message);
  }
}

TEST(ReadPackageArchive, BackslashNameOpensButLookupIsExact) {
  auto parts = read_package_archive(build_zip({{.name = "xl\\workbook.xml", .content = "<w/>"}}));
  ASSERT_TRUE(parts.has_value());
  EXPECT_EQ((*parts)[0].name, "xl\\workbook.xml");
  EXPECT_EQ(find_package_part(*parts, "xl/workbook.xml"), std::nullopt);
  EXPECT_EQ(find_package_part(*parts, "xl\\workbook.xml"), "<w/>");
}

TEST(ReadPackageArchive, EmptyArchiveYieldsNoParts) {
  auto parts = read_package_archive(build_zip({}));
  ASSERT_TRUE(parts.has_value());
  EXPECT_TRUE(parts->empty());
}

// The inflated budget, reached with long runs of zeros rather than a huge
// fixture: exactly 2^29 bytes open, one more fails, across two entries.
TEST(ReadPackageArchive, InflatedBudgetBoundary) {
  for (uint64_t extra : {uint64_t{0}, uint64_t{1}}) {
    SCOPED_TRACE(extra);
    const std::string zip = build_zip({{.name = "a.bin", .zeros = MAX_INFLATED_BYTES - 10},
                                       {.name = "b.bin", .content = std::string(10 + extra, 'b')}});
    EXPECT_LT(zip.size(), 1u << 20);
    EXPECT_EQ(read_message(zip), extra == 0 ? "ok" : "inflated size exceeds 536870912 bytes");
  }
}

TEST(ReadPackageArchive, BudgetStopsABombEarly) {
  // A lowered budget shows the cap: the single entry inflates only to the
  // budget plus one byte before the refusal.
  const std::string zip = build_zip({{.name = "bomb", .zeros = 64 << 20}});
  EXPECT_EQ(read_message(zip, PackageLimits{.max_inflated_bytes = 1000}),
            "inflated size exceeds 536870912 bytes");
  EXPECT_EQ(read_message(zip, PackageLimits{.max_inflated_bytes = 64 << 20}), "ok");
}

TEST(ValidatePackageEntries, SameRuleOnTheWriteSide) {
  struct Case {
    std::string_view label;
    std::vector<PackagePart> parts;
    std::string_view message;
  };
  const Case cases[] = {
      {"fine", {{"xl/workbook.xml", "a"}, {"docProps/", "b"}}, "ok"},
      {"duplicate by case", {{"a.xml", ""}, {"A.XML", ""}}, "duplicate normalized zip entry path: A.XML"},
      {"unsafe", {{"../x", ""}}, "unsafe zip entry path: ../x"},
      {"trailing slash is a file here", {{"d/", ""}, {"d", ""}}, "duplicate normalized zip entry path: d"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto r = validate_package_entries(c.parts);
    EXPECT_EQ(r.has_value() ? std::string("ok") : package_error_message(r.error()), c.message);
  }
  std::vector<PackagePart> many(5001, PackagePart{"", ""});
  for (size_t i = 0; i < many.size(); ++i) many[i].name = "p" + std::to_string(i);
  auto r = validate_package_entries(many);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(package_error_message(r.error()), "zip entry count exceeds 5000");
  many.pop_back();
  EXPECT_TRUE(validate_package_entries(many).has_value());
}

TEST(ValidatePackageEntries, InflatedBudgetBoundary) {
  std::vector<PackagePart> parts{{"a.bin", std::string(MAX_INFLATED_BYTES - 1, '\0')}, {"b.bin", "b"}};
  EXPECT_TRUE(validate_package_entries(parts).has_value());
  parts[1].bytes = "bb";
  auto r = validate_package_entries(parts);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(package_error_message(r.error()), "inflated size exceeds 536870912 bytes");
}

TEST(FindPackagePart, LeadingSlashesAndLetterCase) {
  const std::vector<PackagePart> parts{{"xl/workbook.xml", "wb"}, {"xl\\styles.xml", "st"}, {"/a.xml", "a"}};
  struct Case {
    std::string_view name;
    std::optional<std::string_view> expected;
  };
  const Case cases[] = {
      {"xl/workbook.xml", "wb"}, {"/xl/workbook.xml", "wb"}, {"//xl/workbook.xml", "wb"},
      {"XL/Workbook.XML", "wb"}, {"/xl/WORKBOOK.xml", "wb"}, {"xl/workbook.xm", std::nullopt},
      {"xl/styles.xml", std::nullopt}, {"xl\\styles.xml", "st"}, {"XL\\STYLES.xml", "st"},
      {"a.xml", "a"}, {"./xl/workbook.xml", std::nullopt},
  };
  const PartIndex index(parts);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(find_package_part(parts, c.name), c.expected);
    EXPECT_EQ(index.find(c.name), c.expected);
  }
  EXPECT_EQ(index.position("/a.xml"), 2u);
  // The first of two names that differ only in leading slashes wins, as the
  // scan does.
  const std::vector<PackagePart> twins{{"/x.xml", "first"}, {"x.xml", "second"}};
  EXPECT_EQ(PartIndex(twins).find("x.xml"), find_package_part(twins, "x.xml"));
  // An exact spelling wins over an earlier name equal without case; else the first such name.
  const std::vector<PackagePart> cased{{"xl/A.xml", "upper"}, {"xl/a.xml", "lower"}};
  for (const auto& [name, expected] : {std::pair{"xl/a.xml", "lower"}, {"xl/A.xml", "upper"}, {"XL/A.XML", "upper"}}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(find_package_part(cased, name), expected);
    EXPECT_EQ(PartIndex(cased).find(name), expected);
  }
}

// Thousands of small deflated entries: each part holds about its own size,
// not a fixed inflate chunk, so memory follows the package's bytes.
TEST(ReadPackageArchive, ManySmallEntriesKeepOnlyTheirSize) {
  std::vector<TestEntry> entries;
  uint64_t content_bytes = 0;
  for (int i = 0; i < 2000; ++i) {
    std::string content = "<c>" + std::to_string(i) + "</c>" + std::string(1000, static_cast<char>('a' + i % 26));
    content_bytes += content.size();
    entries.push_back(TestEntry{.name = "xl/p" + std::to_string(i) + ".xml", .content = std::move(content)});
  }
  auto parts = read_package_archive(build_zip(entries));
  ASSERT_TRUE(parts.has_value());
  ASSERT_EQ(parts->size(), 2000u);
  uint64_t held = 0;
  for (const PackagePart& part : *parts) {
    held += part.bytes.capacity();
  }
  EXPECT_LE(held, content_bytes + content_bytes / 8);
  EXPECT_EQ((*parts)[7].bytes.substr(0, 6), "<c>7</");
}

TEST(PackageError, EveryMessageIsDistinct) {
  std::vector<std::string> seen;
  for (int k = 0; k <= static_cast<int>(PackageErrorKind::InflatedSize); ++k) {
    const std::string message = package_error_message({static_cast<PackageErrorKind>(k), "n", "d"});
    EXPECT_EQ(std::count(seen.begin(), seen.end(), message), 0) << message;
    seen.push_back(message);
  }
}

// Sealed worksheets: what a sealed read gives is what the whole read gives,
// the same bytes or the very same error, however the error is found (by the
// archive step, by a stream, or by the final check).
std::string sealed_outcome(const std::string& zip, const PackageLimits& limits, bool stream_first) {
  auto parts = read_package_archive(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(zip.data()), zip.size()), limits,
      ArchiveOptions{.seal_worksheets_from = 1});
  if (!parts.has_value()) return package_error_message(parts.error());
  if (stream_first) {
    for (const PackagePart& part : *parts) {
      if (!part.sealed) continue;
      std::unique_ptr<ByteSource> source = part.sealed->open_stream();
      std::string streamed;
      char buffer[37];
      while (const size_t got = source->read(buffer, sizeof(buffer))) streamed.append(buffer, got);
      // A stream gives all of a sound part and less of a broken one.
      if (part.sealed->stream_broke()) {
        EXPECT_LT(streamed.size(), part.sealed->declared_size());
      } else {
        EXPECT_EQ(streamed, part.sealed->bytes());
      }
    }
  }
  if (std::optional<PackageError> error = first_sealed_failure(*parts)) return package_error_message(*error);
  std::string out = "ok";
  for (const PackagePart& part : *parts) out += "|" + part.name + "=" + std::string(part_bytes(part));
  return out;
}

std::string whole_outcome(const std::string& zip, const PackageLimits& limits) {
  auto parts = read_package_archive(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(zip.data()), zip.size()), limits);
  if (!parts.has_value()) return package_error_message(parts.error());
  std::string out = "ok";
  for (const PackagePart& part : *parts) out += "|" + part.name + "=" + part.bytes;
  return out;
}

// The zip with one byte of an entry's compressed data changed.
std::string corrupt(std::string zip, size_t entry, size_t at) {
  auto archive = ZipArchive::open(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(zip.data()), zip.size()));
  EXPECT_TRUE(archive.has_value());
  auto data = archive->raw_data(entry);
  EXPECT_TRUE(data.has_value());
  const size_t offset = static_cast<size_t>(data->data() - reinterpret_cast<const uint8_t*>(zip.data()));
  zip[offset + std::min(at, data->size() - 1)] ^= 0x5A;
  return zip;
}

TEST(SealedParts, GiveTheWholeReadsBytesOrItsVeryError) {
  std::string sheet = "<worksheet><sheetData>";
  for (int i = 0; i < 300; ++i) sheet += "<row r=\"" + std::to_string(i + 1) + "\"><c r=\"A1\"><v>" + std::to_string(i * 7) + "</v></c></row>";
  sheet += "</sheetData></worksheet>";
  const TestEntry workbook{.name = "xl/workbook.xml", .content = "<workbook/>"};
  const TestEntry sound{.name = "xl/worksheets/sheet1.xml", .content = sheet};
  TestEntry bad_crc = sound;
  bad_crc.crc = 12345;
  TestEntry bad_size = sound;
  bad_size.listed_size = static_cast<uint32_t>(sheet.size() - 3);
  TestEntry long_size = sound;
  long_size.listed_size = static_cast<uint32_t>(sheet.size() + 3);
  const TestEntry stored{.name = "xl/worksheets/sheet2.xml", .content = sheet, .method = 0};
  const TestEntry other_big{.name = "xl/sharedStrings.xml", .content = sheet};
  const TestEntry unsafe{.name = "../x.xml", .content = "x"};
  TestEntry later_bad = bad_crc;
  later_bad.name = "xl/worksheets/sheet3.xml";

  struct Case {
    std::string label;
    std::string zip;
    PackageLimits limits;
  };
  const std::string plain = build_zip({workbook, sound, stored, other_big});
  std::vector<Case> cases = {
      {"sound", plain, {}},
      {"bad crc", build_zip({workbook, bad_crc, stored}), {}},
      {"short size", build_zip({workbook, bad_size}), {}},
      {"long size", build_zip({workbook, long_size}), {}},
      {"bad crc before an unsafe name", build_zip({bad_crc, unsafe}), {}},
      {"unsafe name before a bad crc", build_zip({unsafe, bad_crc}), {}},
      {"two broken sheets", build_zip({workbook, bad_size, later_bad}), {}},
      {"corrupt data", corrupt(build_zip({workbook, sound}), 1, 20), {}},
      {"corrupt end", corrupt(build_zip({workbook, sound}), 1, 100000), {}},
  };
  // The budget falls before, inside and after the sheet.
  for (const uint64_t budget : {uint64_t{5}, uint64_t{11}, uint64_t{sheet.size()}, uint64_t{sheet.size() + 11},
                                uint64_t{sheet.size() + 12}, uint64_t{2 * sheet.size() + 11}}) {
    cases.push_back({"budget " + std::to_string(budget), build_zip({workbook, sound, other_big}),
                     PackageLimits{.max_inflated_bytes = budget}});
    cases.push_back({"budget with bad size " + std::to_string(budget), build_zip({workbook, long_size, other_big}),
                     PackageLimits{.max_inflated_bytes = budget}});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string expected = whole_outcome(c.zip, c.limits);
    EXPECT_EQ(sealed_outcome(c.zip, c.limits, false), expected);
    EXPECT_EQ(sealed_outcome(c.zip, c.limits, true), expected);
  }
  // Only deflated worksheets are sealed, and only from the size asked for.
  for (const uint64_t from : {uint64_t{1}, uint64_t{sheet.size()}, uint64_t{sheet.size() + 1}}) {
    auto parts = read_package_archive(plain, ArchiveOptions{.seal_worksheets_from = from});
    ASSERT_TRUE(parts.has_value());
    std::string sealed;
    for (const PackagePart& part : *parts) sealed += part.sealed ? part.name + ";" : "";
    EXPECT_EQ(sealed, from <= sheet.size() ? "xl/worksheets/sheet1.xml;" : "");
  }
}

}  // namespace
}  // namespace cmx::opc
