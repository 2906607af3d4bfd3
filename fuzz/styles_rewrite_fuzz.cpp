// Fuzzes the styles part rewrite of a save into the source package. Whatever
// UTF-8 part the styles reader accepts: unchanged tables still read; tables
// with a font, a fill, a cell format and a number format added and the
// palette replaced give a part the reader reads again with them in place,
// or a refusal, never a crash. (Bytes after the root are kept as
// they stand, and the reader may meet them differently once tables move.)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "reader/styles_reader.h"
#include "writer/styles_rewrite.h"
#include "xml/part_template.h"
#include "xml/start_tag.h"

using namespace cmx;

namespace {

void check(std::string_view bytes) {
  if (!xml::check_utf8(bytes).has_value()) return;
  auto read = reader::read_styles_part(bytes, std::nullopt);
  if (!read.has_value()) return;
  auto part_template = xml::read_part_template(bytes);
  if (!part_template.has_value()) return;
  const model::StyleSheet& baseline = read->styles;
  // The reader also takes markup after the root, which the rewrite keeps
  // there as it stands: such a part is only run, not checked.
  const std::string& tail = part_template->tail;
  const bool checked = tail.find('<', tail.find('>')) == std::string::npos;

  // Unchanged tables keep their text (a wrong count aside), so the part
  // still reads.
  auto same = writer::rewrite_styles_part(baseline, baseline, *part_template);
  if (same.has_value() && checked && !reader::read_styles_part(*same, std::nullopt).has_value()) {
    std::fprintf(stderr, "unchanged styles no longer read\n");
    std::abort();
  }

  model::StyleSheet styles = baseline;
  styles.fonts.push_back(model::Font{"Fuzz", 12.5, true, false, true, false, model::Color(model::RgbColor{"#123456"})});
  styles.fills.push_back(model::SolidFill{model::ThemeColor{3, 0.25}});
  styles.num_fmts.push_back(model::CustomNumFmt{400, "0.0\"&\""});
  styles.cell_xfs.push_back(model::CellXf{static_cast<uint32_t>(styles.fonts.size() - 1), std::nullopt, std::nullopt,
                                          uint16_t{400}, std::nullopt});
  styles.indexed_colors = {"#abcdef", ""};
  auto rewritten = writer::rewrite_styles_part(styles, baseline, *part_template);
  if (!rewritten.has_value() || !checked) return;
  auto again = reader::read_styles_part(*rewritten, std::nullopt);
  if (!again.has_value()) {
    std::fprintf(stderr, "rewritten styles unreadable\n");
    std::abort();
  }
  const auto& fonts = again->styles.fonts;
  const bool font_found = std::any_of(fonts.begin(), fonts.end(), [](const model::Font& f) {
    return f.name == std::optional<std::string>("Fuzz") && f.size_pt == 12.5 && f.bold && f.underline;
  });
  const auto& formats = again->styles.num_fmts;
  const bool format_found = std::any_of(formats.begin(), formats.end(), [](const model::CustomNumFmt& f) {
    return f.id == 400 && f.code == "0.0\"&\"";
  });
  if (!font_found || !format_found) {
    std::fprintf(stderr, "an added entry was lost\n");
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
