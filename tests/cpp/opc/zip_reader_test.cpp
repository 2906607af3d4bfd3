// The ZIP reader: central-directory order, names, ZIP64, raw copies, CRC and
// size checks, refusals, and every truncation of a valid archive.
#include "opc/zip_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "zip_builder.h"

namespace cmx::opc {
namespace {

using testing::build_zip;
using testing::TestEntry;
using testing::ZipOptions;

std::span<const uint8_t> as_bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

std::string read_entry(const ZipArchive& archive, size_t index) {
  auto reader = archive.open_entry(index);
  EXPECT_TRUE(reader.has_value());
  std::string out;
  auto r = reader->read_to_end(out, UINT64_MAX);
  EXPECT_TRUE(r.has_value()) << zip_error_message(r.error());
  EXPECT_TRUE(reader->finished());
  return out;
}

TEST(ZipReader, ListsEntriesInDirectoryOrderWithDirectories) {
  const std::string zip = build_zip({{.name = "b.xml", .content = "<b/>"},
                                     {.name = "xl/", .content = ""},
                                     {.name = "a.xml", .content = "stored", .method = 0}});
  auto archive = ZipArchive::open(as_bytes(zip));
  ASSERT_TRUE(archive.has_value());
  ASSERT_EQ(archive->entry_count(), 3u);
  EXPECT_EQ(archive->entry(0).name, "b.xml");
  EXPECT_TRUE(archive->entry(1).is_directory());
  EXPECT_EQ(archive->entry(2).name, "a.xml");
  EXPECT_EQ(read_entry(*archive, 0), "<b/>");
  EXPECT_EQ(read_entry(*archive, 2), "stored");
}

TEST(ZipReader, DecodesNamesByTheUtf8Flag) {
  struct Case {
    std::string_view label;
    std::string raw;
    uint16_t flags;
    std::string expected;
  };
  const Case cases[] = {
      {"cp437 high bytes", "\x80\xE1\xFE.xml", 0, "\xC3\x87\xC3\x9F\xE2\x96\xA0.xml"},
      {"utf-8 flag", "\xC3\x87.xml", 0x0800, "\xC3\x87.xml"},
      {"utf-8 flag, ill-formed byte", "a\xFF", 0x0800, "a\xEF\xBF\xBD"},
      {"plain ascii", "xl/workbook.xml", 0, "xl/workbook.xml"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string zip = build_zip({{.name = c.raw, .content = "x", .flags = c.flags}});
    auto archive = ZipArchive::open(as_bytes(zip));
    ASSERT_TRUE(archive.has_value());
    EXPECT_EQ(archive->entry(0).name, c.expected);
    EXPECT_EQ(archive->entry(0).raw_name, c.raw);
  }
}

TEST(ZipReader, AcceptsZip64RecordsAndExtraFields) {
  const std::string zip = build_zip({{.name = "a.xml", .content = "hello", .zip64 = true},
                                     {.name = "b.xml", .content = "world", .method = 0, .zip64 = true}},
                                    ZipOptions{.zip64_end = true});
  auto archive = ZipArchive::open(as_bytes(zip));
  ASSERT_TRUE(archive.has_value()) << zip_error_message(archive.error());
  ASSERT_EQ(archive->entry_count(), 2u);
  EXPECT_EQ(archive->entry(0).uncompressed_size, 5u);
  EXPECT_EQ(read_entry(*archive, 0), "hello");
  EXPECT_EQ(read_entry(*archive, 1), "world");
}

TEST(ZipReader, Zip64RecordDecidesTheDiskNumbers) {
  const std::vector<TestEntry> entries{{.name = "a.xml", .content = "hello"}};
  auto with_zip64 = build_zip(entries, ZipOptions{.zip64_end = true, .end_disk_fields = 0xFFFF});
  EXPECT_TRUE(ZipArchive::open(as_bytes(with_zip64)).has_value());
  auto without = build_zip(entries, ZipOptions{.end_disk_fields = 0xFFFF});
  auto archive = ZipArchive::open(as_bytes(without));
  ASSERT_FALSE(archive.has_value());
  EXPECT_EQ(archive.error().kind, ZipErrorKind::MultiDisk);
}

TEST(ZipReader, FindsTheEndRecordBehindAComment) {
  const std::string zip = build_zip({{.name = "a", .content = "1"}},
                                    ZipOptions{.comment = std::string(300, 'c')});
  auto archive = ZipArchive::open(as_bytes(zip));
  ASSERT_TRUE(archive.has_value());
  EXPECT_EQ(read_entry(*archive, 0), "1");
}

TEST(ZipReader, RawDataAndRecordsServeACopyWithoutInflating) {
  const std::string content(5000, 'q');
  const std::string zip = build_zip({{.name = "q.xml", .content = content}});
  auto archive = ZipArchive::open(as_bytes(zip));
  ASSERT_TRUE(archive.has_value());
  const ZipEntry& entry = archive->entry(0);
  auto raw = archive->raw_data(0);
  ASSERT_TRUE(raw.has_value());
  EXPECT_EQ(raw->size(), entry.compressed_size);
  EXPECT_LT(entry.compressed_size, 100u);
  EXPECT_EQ(entry.uncompressed_size, content.size());
  EXPECT_EQ(entry.crc32, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(content.data()),
                                                     static_cast<uInt>(content.size()))));
  EXPECT_EQ(entry.dos_date, 0x21);
  EXPECT_EQ(entry.method, 8);
}

TEST(ZipReader, CappedReadStopsWithoutVerdict) {
  const std::string zip = build_zip({{.name = "z", .zeros = 1 << 20}});
  auto archive = ZipArchive::open(as_bytes(zip));
  ASSERT_TRUE(archive.has_value());
  auto reader = archive->open_entry(0);
  ASSERT_TRUE(reader.has_value());
  std::string out;
  ASSERT_TRUE(reader->read_to_end(out, 1000).has_value());
  EXPECT_EQ(out.size(), 1000u);
  EXPECT_FALSE(reader->finished());
  // Reading on delivers the rest and then checks size and CRC.
  ASSERT_TRUE(reader->read_to_end(out, UINT64_MAX).has_value());
  EXPECT_EQ(out.size(), size_t{1} << 20);
  EXPECT_TRUE(reader->finished());
}

TEST(ZipReader, RefusesDamagedEntries) {
  struct Case {
    std::string_view label;
    TestEntry entry;
    bool fails_on_open;  // else on read
    ZipErrorKind kind;
    std::string_view message;
  };
  const Case cases[] = {
      {"encryption flag", {.name = "a", .content = "x", .flags = 1}, true, ZipErrorKind::Encrypted,
       "encrypted entries are not supported"},
      {"unknown method", {.name = "a", .content = "x", .method = 12}, true, ZipErrorKind::UnsupportedMethod,
       "unsupported compression method 12"},
      {"bad crc, deflated", {.name = "a", .content = "hello", .crc = 1234}, false, ZipErrorKind::CrcMismatch,
       "invalid checksum"},
      {"bad crc, stored", {.name = "a", .content = "hello", .method = 0, .crc = 1}, false,
       ZipErrorKind::CrcMismatch, "invalid checksum"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string zip = build_zip({c.entry});
    auto archive = ZipArchive::open(as_bytes(zip));
    ASSERT_TRUE(archive.has_value());
    auto reader = archive->open_entry(0);
    if (c.fails_on_open) {
      ASSERT_FALSE(reader.has_value());
      EXPECT_EQ(reader.error().kind, c.kind);
      EXPECT_EQ(zip_error_message(reader.error()), c.message);
      continue;
    }
    ASSERT_TRUE(reader.has_value());
    std::string out;
    auto r = reader->read_to_end(out, UINT64_MAX);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind, c.kind);
    EXPECT_EQ(zip_error_message(r.error()), c.message);
  }
}

TEST(ZipReader, RefusesCorruptDeflateData) {
  std::string zip = build_zip({{.name = "a", .content = std::string(1000, 'x') + "tail"}});
  // The first byte of the deflate stream after the 30-byte header and name.
  zip[31] = static_cast<char>(0xFF);
  auto archive = ZipArchive::open(as_bytes(zip));
  ASSERT_TRUE(archive.has_value());
  auto reader = archive->open_entry(0);
  ASSERT_TRUE(reader.has_value());
  std::string out;
  auto r = reader->read_to_end(out, UINT64_MAX);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind, ZipErrorKind::CorruptData);
}

// Entries inflate in one call when their declared size is right; every other
// outcome must be the streaming path's, whatever the declaration says.
TEST(ZipReader, DeclaredSizeDoesNotChangeOutcomes) {
  const std::string text = [] {
    std::string made;
    for (int i = 0; i < 5000; ++i) made += "<c r=\"A" + std::to_string(i) + "\"><v>" + std::to_string(i * 7) + "</v></c>";
    return made;
  }();
  struct Case {
    std::string_view label;
    std::optional<uint32_t> listed_size;
    uint64_t cap;
    size_t cut;  // bytes cut from the end of the deflate stream
    std::optional<ZipErrorKind> kind;
    size_t produced;
    bool finished;
  };
  const auto size = static_cast<uint32_t>(text.size());
  const Case cases[] = {
      {"true size", std::nullopt, UINT64_MAX, 0, std::nullopt, text.size(), true},
      {"declared one byte short", size - 1, UINT64_MAX, 0, ZipErrorKind::SizeMismatch, text.size(), true},
      {"declared one byte long", size + 1, UINT64_MAX, 0, ZipErrorKind::SizeMismatch, text.size(), true},
      {"declared zero", 0u, UINT64_MAX, 0, ZipErrorKind::SizeMismatch, text.size(), true},
      {"declared huge", 0xFFFFFFF0u, UINT64_MAX, 0, ZipErrorKind::SizeMismatch, text.size(), true},
      {"cap below the size", std::nullopt, 100, 0, std::nullopt, 100, false},
      {"cap at the size", std::nullopt, text.size(), 0, std::nullopt, text.size(), true},
      {"truncated stream", std::nullopt, UINT64_MAX, 40, ZipErrorKind::CorruptData, 0, false},
      {"truncated, declared short", size / 2, UINT64_MAX, 40, ZipErrorKind::CorruptData, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TestEntry entry{.name = "a", .content = text, .listed_size = c.listed_size};
    std::string zip = build_zip({entry});
    if (c.cut > 0) {
      // The directory's compressed size decides where the stream ends.
      auto whole = ZipArchive::open(as_bytes(zip));
      ASSERT_TRUE(whole.has_value());
      entry.listed_compressed_size = static_cast<uint32_t>(whole->entry(0).compressed_size - c.cut);
      zip = build_zip({entry});
    }
    auto archive = ZipArchive::open(as_bytes(zip));
    ASSERT_TRUE(archive.has_value());
    auto reader = archive->open_entry(0);
    ASSERT_TRUE(reader.has_value());
    std::string out = "kept";
    auto r = reader->read_to_end(out, c.cap);
    if (c.kind) {
      ASSERT_FALSE(r.has_value());
      EXPECT_EQ(r.error().kind, *c.kind);
    } else {
      ASSERT_TRUE(r.has_value());
    }
    EXPECT_EQ(reader->finished(), c.finished);
    ASSERT_GE(out.size(), 4u);
    EXPECT_EQ(out.substr(0, 4), "kept");
    if (!c.kind || *c.kind == ZipErrorKind::SizeMismatch) {
      EXPECT_EQ(out.size() - 4, c.produced);
      EXPECT_EQ(out.substr(4), text.substr(0, c.produced));
    }
  }
}

TEST(ZipReader, RefusesNonArchives) {
  struct Case {
    std::string_view label;
    std::string bytes;
    ZipErrorKind kind;
  };
  const Case cases[] = {
      {"empty", "", ZipErrorKind::NoEndRecord},
      {"text", std::string(100, 'a'), ZipErrorKind::NoEndRecord},
      {"directory past the end",
       std::string("PK\x05\x06\0\0\0\0\1\0\1\0\x2e\0\0\0\0\0\0\0\0\0", 22), ZipErrorKind::DirectoryOutOfRange},
      {"count beyond directory", std::string("PK\x05\x06\0\0\0\0\xff\xff\xff\xff\0\0\0\0\0\0\0\0\0\0", 22),
       ZipErrorKind::TooManyEntries},
      {"second disk", std::string("PK\x05\x06\1\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 22), ZipErrorKind::MultiDisk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto archive = ZipArchive::open(as_bytes(c.bytes));
    ASSERT_FALSE(archive.has_value());
    EXPECT_EQ(archive.error().kind, c.kind);
    EXPECT_FALSE(zip_error_message(archive.error()).empty());
  }
  // An empty archive is no error.
  auto empty = ZipArchive::open(as_bytes(build_zip({})));
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(empty->entry_count(), 0u);
}

TEST(ZipReader, EveryTruncationFailsCleanly) {
  const std::string zip = build_zip({{.name = "a.xml", .content = std::string(300, 'a')},
                                     {.name = "b.xml", .content = "bbb", .method = 0}});
  for (size_t len = 0; len < zip.size(); ++len) {
    SCOPED_TRACE(len);
    const std::string cut = zip.substr(0, len);
    auto archive = ZipArchive::open(as_bytes(cut));
    if (!archive.has_value()) continue;
    // A prefix may still hold an end record by chance only if it is whole.
    ADD_FAILURE() << "a truncated archive opened";
  }
}

TEST(ZipReader, EveryMessageIsDistinct) {
  std::vector<std::string> seen;
  for (int k = 0; k <= static_cast<int>(ZipErrorKind::OutOfMemory); ++k) {
    const std::string message = zip_error_message({static_cast<ZipErrorKind>(k), 7});
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(std::count(seen.begin(), seen.end(), message), 0) << message;
    seen.push_back(message);
  }
}

// An archive written by Python's zipfile (script beside the fixture): a
// directory, a UTF-8 name, a forced ZIP64 entry and data descriptors.
TEST(ZipReader, ReadsAPeerArchive) {
  const auto path = std::filesystem::path(CMX_SOURCE_DIR) / "tests/fixtures/zip/peer.zip";
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in.good()) << path;
  const std::string zip((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto archive = ZipArchive::open(as_bytes(zip));
  ASSERT_TRUE(archive.has_value()) << zip_error_message(archive.error());
  std::vector<std::string> names;
  for (size_t i = 0; i < archive->entry_count(); ++i) names.push_back(archive->entry(i).name);
  EXPECT_EQ(names, (std::vector<std::string>{"[Content_Types].xml", "xl/", "xl/workbook.xml",
                                             "xl/m\xC3\xA9" "dia.xml", "xl/big.xml", "streamed.xml"}));
  EXPECT_EQ(read_entry(*archive, 0), "<Types/>");
  EXPECT_EQ(read_entry(*archive, 2), "<workbook/>");
  EXPECT_EQ(read_entry(*archive, 3), "caf\xC3\xA9");
  EXPECT_EQ(read_entry(*archive, 4), std::string(100000, 'z'));
  EXPECT_EQ(read_entry(*archive, 5), "streamed content");
}

}  // namespace
}  // namespace cmx::opc
