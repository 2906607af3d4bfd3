#include <gtest/gtest.h>

#include <cstring>

#include "opc/package_archive.h"
#include "opc/zip_reader.h"
#include "writer/new_package.h"

namespace cmx::writer {
namespace {

std::span<const uint8_t> bytes_of(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

uint16_t u16_at(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | (static_cast<uint8_t>(b[at + 1]) << 8));
}
uint32_t u32_at(const std::string& b, size_t at) {
  return u16_at(b, at) | (static_cast<uint32_t>(u16_at(b, at + 2)) << 16);
}

std::vector<opc::PackagePart> sample_parts() {
  return {{"[Content_Types].xml", "<Types/>"},
          {"xl/worksheets/sheet1.xml", std::string(100000, 'a') + "tail"},
          {"xl/media/bild\xC3\xA4.xml", ""},
          {"x\\a.xml", "backslash"}};
}

TEST(PackageZip, FreshEntriesCarryFixedMetadataAndReadBack) {
  const std::vector<opc::PackagePart> parts = sample_parts();
  auto archive = write_package_zip(parts);
  ASSERT_TRUE(archive.has_value()) << archive.error();
  auto again = write_package_zip(parts);
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(*archive, *again);

  auto opened = opc::ZipArchive::open(bytes_of(*archive));
  ASSERT_TRUE(opened.has_value());
  ASSERT_EQ(opened->entry_count(), parts.size());
  for (size_t i = 0; i < parts.size(); ++i) {
    SCOPED_TRACE(parts[i].name);
    const opc::ZipEntry& entry = opened->entry(i);
    EXPECT_EQ(entry.raw_name, parts[i].name);
    EXPECT_EQ(entry.method, 8);
    EXPECT_EQ(entry.dos_time, 0x0000);
    EXPECT_EQ(entry.dos_date, 0x0021);
    EXPECT_EQ(entry.external_attributes, 0x81A40000u);
    EXPECT_EQ(entry.version_made_by, 0x0314);
    const bool wide = parts[i].name.find('\xC3') != std::string::npos;
    EXPECT_EQ(entry.flags, wide ? 0x0800 : 0);
    // The local header repeats the sizes and flags, without a data descriptor.
    const size_t at = entry.local_header_offset;
    EXPECT_EQ(u32_at(*archive, at), 0x04034b50u);
    EXPECT_EQ(u16_at(*archive, at + 4), 20);
    EXPECT_EQ(u16_at(*archive, at + 6), entry.flags);
    EXPECT_EQ(u32_at(*archive, at + 14), entry.crc32);
    EXPECT_EQ(u32_at(*archive, at + 18), entry.compressed_size);
    EXPECT_EQ(u32_at(*archive, at + 22), parts[i].bytes.size());
  }
  auto read = opc::read_package_archive(*archive);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(*read, parts);
}

TEST(PackageZip, EntryRulesRefuseBeforeWriting) {
  struct Case {
    std::vector<opc::PackagePart> parts;
    const char* message;
  };
  const Case cases[] = {
      {{{"xl/Foo.xml", "a"}, {"xl/foo.xml", "b"}}, "duplicate normalized zip entry path: xl/foo.xml"},
      {{{"a/./b.xml", "a"}, {"a/b.xml", "b"}}, "duplicate normalized zip entry path: a/b.xml"},
      {{{"/xl/a.xml", "a"}}, "unsafe zip entry path: /xl/a.xml"},
      {{{"C:/a.xml", "a"}}, "unsafe zip entry path: C:/a.xml"},
      {{{"x/../a.xml", "a"}}, "unsafe zip entry path: x/../a.xml"},
      {{{"", "a"}}, "unsafe zip entry path: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    auto archive = write_package_zip(c.parts);
    ASSERT_FALSE(archive.has_value());
    EXPECT_EQ(archive.error(), c.message);
  }
  auto long_name = write_package_zip(std::vector<opc::PackagePart>{{std::string(70000, 'n'), "x"}});
  ASSERT_FALSE(long_name.has_value());
  EXPECT_TRUE(long_name.error().starts_with("start_file nnn")) << long_name.error();
  std::vector<opc::PackagePart> many(5000);
  for (size_t i = 0; i < many.size(); ++i) many[i].name = "p" + std::to_string(i);
  EXPECT_TRUE(opc::validate_package_entries(many).has_value());
  many.push_back({"../bad", ""});
  auto refused = write_package_zip(many);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error(), "zip entry count exceeds 5000");
}

TEST(PackageZip, UnchangedPartsAreCopiedRawFromTheSource) {
  // A source whose entries carry their own timestamp and deflate flags.
  const std::vector<opc::PackagePart> source_parts = {
      {"a.xml", std::string(70000, 'x') + "source a"}, {"b.xml", "source b"}, {"C.xml", "case"}};
  auto fresh = write_package_zip(source_parts);
  ASSERT_TRUE(fresh.has_value());
  std::string source = *fresh;
  auto opened = opc::ZipArchive::open(bytes_of(source));
  ASSERT_TRUE(opened.has_value());
  for (size_t i = 0; i < opened->entry_count(); ++i) {
    const opc::ZipEntry& entry = opened->entry(i);
    // Stamp a different time into both headers so a copy is recognisable.
    source[entry.local_header_offset + 10] = 0x12;
  }
  for (size_t at = 0; at + 4 <= source.size(); ++at) {
    if (u32_at(source, at) == 0x02014b50u) source[at + 12] = 0x12;
  }

  const std::vector<opc::PackagePart> parts = {
      {"a.xml", std::string(70000, 'x') + "source a"},  // identical: copied
      {"b.xml", "changed!"},                             // same size, new bytes: fresh
      {"c.xml", "case"},                                 // another name by case: fresh
      {"new.xml", "new"}};
  auto archive = write_package_archive(parts, source);
  ASSERT_TRUE(archive.has_value()) << archive.error();
  auto out = opc::ZipArchive::open(bytes_of(*archive));
  ASSERT_TRUE(out.has_value());
  ASSERT_EQ(out->entry_count(), 4u);
  EXPECT_EQ(out->entry(0).dos_time, 0x0012);
  for (size_t i = 1; i < 4; ++i) EXPECT_EQ(out->entry(i).dos_time, 0x0000) << i;
  auto read = opc::read_package_archive(*archive);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(*read, parts);

  // Entry by entry: an exact name and equal bytes only.
  opc::ZipWriter writer;
  EXPECT_EQ(copy_unchanged_part(*opened, writer, "b.xml", "source b").value(), true);
  EXPECT_EQ(copy_unchanged_part(*opened, writer, "b.xml", "source c").value(), false);
  EXPECT_EQ(copy_unchanged_part(*opened, writer, "b.xml", "source b!").value(), false);
  EXPECT_EQ(copy_unchanged_part(*opened, writer, "B.xml", "source b").value(), false);
  auto one = writer.finish();
  ASSERT_TRUE(one.has_value());
  auto one_read = opc::read_package_archive(*one);
  ASSERT_TRUE(one_read.has_value());
  EXPECT_EQ(*one_read, (std::vector<opc::PackagePart>{{"b.xml", "source b"}}));

  // A source that does not open is no error: everything is written afresh.
  auto fallback = write_package_archive(parts, std::string_view("not a zip"));
  ASSERT_TRUE(fallback.has_value());
  EXPECT_EQ(*fallback, *write_package_zip(parts));
}

}  // namespace
}  // namespace cmx::writer
