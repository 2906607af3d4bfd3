// Interning resolved formats into the style tables, the caches, rollback,
// the record limit and style-table equality.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "model/style_equality.h"
#include "model/style_interning.h"

namespace cmx::model {
namespace {

Font font_named(const char* name, double size = 11, bool bold = false) {
  Font font;
  font.name = name;
  font.size_pt = size;
  font.bold = bold;
  return font;
}

CellFormat with_font(Font font) {
  CellFormat format;
  format.font = std::move(font);
  return format;
}

uint32_t intern(StyleSheet& styles, const CellFormat& format, uint16_t id = 0) {
  return intern_format_builtin_numfmt(styles, format, id).value();
}

TEST(InternFormat, EmptyTables) {
  StyleSheet styles;
  Font bold;
  bold.bold = true;
  EXPECT_EQ(intern(styles, with_font(bold)), 0u);
  ASSERT_EQ(styles.fonts.size(), 1u);
  EXPECT_TRUE(styles.fonts[0].bold);
  ASSERT_EQ(styles.fills.size(), 1u);
  EXPECT_TRUE(std::holds_alternative<NoFill>(styles.fills[0]));
  ASSERT_EQ(styles.borders.size(), 1u);
  EXPECT_TRUE(border_eq(styles.borders[0], Border{}));
  EXPECT_EQ(styles.cell_xfs, (std::vector<CellXf>{CellXf{0u, {}, {}, {}, {}}}));

  // Interning again appends nothing.
  EXPECT_EQ(intern(styles, with_font(bold)), 0u);
  EXPECT_EQ(style_table_lengths(styles), (StyleTableLengths{1, 1, 1, 1, 0}));

  StyleSheet defaults;
  EXPECT_EQ(intern(defaults, CellFormat{}), 0u);
  EXPECT_EQ(defaults.cell_xfs, (std::vector<CellXf>{CellXf{}}));
  EXPECT_EQ(style_table_lengths(defaults), (StyleTableLengths{1, 1, 1, 1, 0}));
}

TEST(InternFormat, ResolvesBack) {
  StyleSheet styles;
  CellFormat format = with_font(font_named("Arial", 12, true));
  format.fill = SolidFill{RgbColor{"#ff0000"}};
  format.border.left = BorderEdge{BorderStyle::Thick, ThemeColor{4, 0.5}};
  format.alignment.h = HorizontalAlignment::Center;
  format.alignment.wrap_text = true;
  const uint32_t builtin = intern(styles, format, 14);
  format.number_format = CustomPattern{"0.000"};
  const uint32_t custom = intern_format_custom_numfmt(styles, format, "0.000").value();
  EXPECT_NE(builtin, custom);
  CellFormat back = resolve_cell_format(styles, custom);
  EXPECT_TRUE(font_eq(back.font, format.font));
  EXPECT_TRUE(fill_eq(back.fill, format.fill));
  EXPECT_TRUE(border_eq(back.border, format.border));
  EXPECT_EQ(back.alignment, format.alignment);
  EXPECT_EQ(back.number_format, format.number_format);
  EXPECT_EQ(resolve_cell_format(styles, builtin).number_format, NumberFormat(BuiltinNumFmt{14}));
}

TEST(InternFormat, FontOnlyShortcut) {
  StyleSheet styles;
  styles.fonts = {font_named("F0"), font_named("F1")};
  styles.fills = {NoFill{}};
  styles.borders = {Border{}};
  styles.cell_xfs = {CellXf{1u, {}, {}, {}, {}}, CellXf{1u, {}, {}, {}, {}}};
  EXPECT_EQ(intern(styles, with_font(font_named("F1"))), 1u);
  styles.cell_xfs = {CellXf{1u, {}, {}, {}, {}}, CellXf{0u, {}, {}, {}, {}}};
  EXPECT_EQ(intern(styles, with_font(font_named("F1"))), 0u);
}

TEST(InternFormat, CustomNumberFormatIds) {
  struct Case {
    const char* name;
    std::vector<CustomNumFmt> before;
    const char* code;
    uint16_t id;
    size_t appended;
  };
  const Case cases[] = {
      {"first code", {}, "0.0", 164, 1},
      {"gap", {{164, "a"}, {166, "b"}}, "0.0", 165, 1},
      {"reuse", {{164, "a"}, {170, "0.0"}}, "0.0", 170, 0},
      {"below 164 not reused", {{5, "0.0"}}, "0.0", 164, 1},
      {"id first carried by another code", {{164, "0.0"}, {164, "0.00"}}, "0.00", 165, 1},
      {"second of two equal codes", {{170, "x"}, {165, "0.0"}, {166, "0.0"}}, "0.0", 165, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StyleSheet styles;
    styles.num_fmts = c.before;
    const uint32_t xf = intern_format_custom_numfmt(styles, CellFormat{}, c.code).value();
    EXPECT_EQ(styles.cell_xfs[xf].num_fmt_id, c.id);
    EXPECT_EQ(styles.num_fmts.size(), c.before.size() + c.appended);
    if (c.appended) {
      EXPECT_EQ(styles.num_fmts.back(), (CustomNumFmt{c.id, c.code}));
    }
  }
}

TEST(InternFormat, NumberFormatTableFull) {
  StyleSheet styles;
  for (uint32_t id = 164; id <= 65534; ++id) styles.num_fmts.push_back({static_cast<uint16_t>(id), "x"});
  EXPECT_EQ(styles.cell_xfs[intern_format_custom_numfmt(styles, CellFormat{}, "last").value()].num_fmt_id, 65535);
  const StyleTableLengths full = style_table_lengths(styles);
  auto refused = intern_format_custom_numfmt(styles, with_font(font_named("new")), "one more");
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error(), InternError::NumFmtTableFull);
  EXPECT_EQ(style_table_lengths(styles), full);
  // Reuse still works on a full table.
  EXPECT_TRUE(intern_format_custom_numfmt(styles, CellFormat{}, "last").has_value());
}

TEST(InternFormat, RecordLimitRefusesAndChangesNothing) {
  struct Case {
    const char* name;
    int full_table;  // 0 fonts, 1 fills, 2 borders, 3 cell formats
    bool custom;
  };
  const Case cases[] = {
      {"fonts", 0, false}, {"fills", 1, true}, {"borders", 2, false}, {"cell formats", 3, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StyleSheet styles;
    styles.fonts = {Font{}};
    styles.fills = {NoFill{}};
    styles.borders = {Border{}};
    styles.cell_xfs = {CellXf{}};
    switch (c.full_table) {
      case 0: styles.fonts.resize(kMaxStyleRecords); break;
      case 1: styles.fills.resize(kMaxStyleRecords); break;
      case 2: styles.borders.resize(kMaxStyleRecords); break;
      default: styles.cell_xfs.resize(kMaxStyleRecords); break;
    }
    CellFormat format = with_font(font_named("Fresh", 20));
    format.fill = SolidFill{IndexedColor{10}};
    format.border.top = BorderEdge{BorderStyle::Double, std::nullopt};
    const StyleSheet before = styles;
    auto result = c.custom ? intern_format_custom_numfmt(styles, format, "0.0%")
                           : intern_format_builtin_numfmt(styles, format, 10);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), InternError::StyleTableFull);
    EXPECT_TRUE(stylesheet_eq(styles, before));
    // A format already present still interns on a full table.
    EXPECT_TRUE(intern_format_builtin_numfmt(styles, CellFormat{}, 0).has_value());
  }
}

TEST(InternFormat, FloatKeys) {
  StyleSheet styles;
  const uint32_t a = intern(styles, with_font(font_named("Z", 0.0)));
  const uint32_t b = intern(styles, with_font(font_named("Z", -0.0)));
  EXPECT_EQ(a, b);
  EXPECT_EQ(hash_font_key(font_named("Z", 0.0)), hash_font_key(font_named("Z", -0.0)));

  const size_t fonts = styles.fonts.size();
  const uint32_t n1 = intern(styles, with_font(font_named("N", std::nan(""))));
  const uint32_t n2 = intern(styles, with_font(font_named("N", std::nan(""))));
  EXPECT_NE(n1, n2);
  EXPECT_EQ(styles.fonts.size(), fonts + 2);
  EXPECT_FALSE(hash_font_key(font_named("N", std::nan(""))).has_value());
  EXPECT_FALSE(hash_color_key(ThemeColor{1, std::nan("")}).has_value());
  Border nan_border;
  nan_border.left = BorderEdge{BorderStyle::Thin, ThemeColor{1, std::nan("")}};
  EXPECT_FALSE(border_lookup_key(nan_border).has_value());
  EXPECT_FALSE(stylesheet_eq(styles, StyleSheet(styles)));
}

TEST(RollbackStylesheet, UndoesAFailedEditsAppends) {
  StyleSheet styles;
  intern(styles, CellFormat{});
  const StyleTableLengths mark = style_table_lengths(styles);
  const StyleSheet before = styles;
  const CellFormat formats[] = {with_font(font_named("A")), with_font(font_named("B", 9)),
                                with_font(font_named("C", 9, true))};
  std::vector<uint32_t> first;
  for (const CellFormat& f : formats) first.push_back(intern(styles, f));
  (void)intern_format_custom_numfmt(styles, formats[0], "0.0");
  rollback_stylesheet(styles, mark);
  EXPECT_TRUE(stylesheet_eq(styles, before));
  EXPECT_EQ(intern(styles, formats[0]), first[0]);
}

TEST(StylesheetEq, CachesPlayNoPart) {
  StyleSheet a;
  for (int i = 0; i < 200; ++i) intern(a, with_font(font_named("F", 8 + i)));
  StyleSheet b = a;  // the copy starts with empty caches
  EXPECT_TRUE(b.caches.font_lookup.positions.empty());
  EXPECT_FALSE(a.caches.font_lookup.positions.empty());
  EXPECT_TRUE(stylesheet_eq(a, b));
  b.theme.colors[3] = "#000001";
  EXPECT_FALSE(stylesheet_eq(a, b));
}

// Random tables with many duplicates and random formats: the cached search
// and the plain one return the same positions and leave the same tables.
TEST(InternWithLookupCaches, MatchesPlainSearch) {
  std::mt19937 rng(122);
  auto pick = [&](int n) { return static_cast<int>(rng() % n); };
  auto random_color = [&]() -> std::optional<Color> {
    switch (pick(4)) {
      case 0: return std::nullopt;
      case 1: return RgbColor{pick(2) ? "#112233" : "#445566"};
      case 2: return ThemeColor{static_cast<uint8_t>(pick(3)), pick(2) ? 0.0 : (pick(2) ? -0.0 : 0.25)};
      default: return IndexedColor{static_cast<uint8_t>(pick(3))};
    }
  };
  auto random_format = [&] {
    CellFormat f;
    if (pick(4)) f.font = font_named(pick(2) ? "A" : "B", 8 + pick(6), pick(2));
    if (pick(8) == 0) f.font.size_pt = std::nan("");
    f.font.color = random_color();
    if (pick(2)) {
      std::optional<Color> c = random_color();
      f.fill = SolidFill{c ? *c : Color(AutoColor{})};
    }
    if (pick(2)) f.border.bottom = BorderEdge{static_cast<BorderStyle>(pick(3)), random_color()};
    if (pick(3) == 0) f.alignment.h = static_cast<HorizontalAlignment>(pick(3));
    f.alignment.wrap_text = pick(4) == 0;
    return f;
  };
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    StyleSheet plain;
    // Grow past the cache threshold with duplicates in every table.
    for (int i = 0; i < 400; ++i) {
      CellFormat f = random_format();
      plain.fonts.push_back(f.font);
      plain.fills.push_back(f.fill);
      plain.borders.push_back(f.border);
      plain.cell_xfs.push_back(CellXf{static_cast<uint32_t>(pick(i + 1)), static_cast<uint32_t>(pick(i + 1)),
                                      std::nullopt, std::optional<uint16_t>(static_cast<uint16_t>(pick(3))), {}});
    }
    StyleSheet cached = plain;
    for (int i = 0; i < 3000; ++i) {
      const CellFormat f = random_format();
      const std::optional<uint16_t> id = pick(3) ? std::nullopt : std::optional<uint16_t>(pick(4));
      if (pick(200) == 0) {
        // A rollback behind the caches' back invalidates them.
        StyleTableLengths mark = style_table_lengths(plain);
        mark.fonts -= 3;
        mark.cell_xfs -= 5;
        rollback_stylesheet(plain, mark);
        rollback_stylesheet(cached, mark);
      }
      const uint32_t want = intern_with_linear_search(plain, f, id).value();
      const uint32_t got = intern_with_lookup_caches(cached, f, id).value();
      ASSERT_EQ(got, want) << i;
    }
    // NaN fonts make the tables unequal to themselves; compare the lengths and the rest.
    EXPECT_EQ(style_table_lengths(plain), style_table_lengths(cached));
    EXPECT_EQ(plain.cell_xfs, cached.cell_xfs);
  }
}

}  // namespace
}  // namespace cmx::model
