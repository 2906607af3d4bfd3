#include "model/display_text.h"

#include "model/format_render.h"
#include "model/number_format.h"

namespace cmx::model {

std::string cell_format_code(const StyleSheet& styles, std::optional<uint32_t> style) {
  constexpr std::string_view kGeneral = "General";
  if (!style || *style >= styles.cell_xfs.size()) return std::string(kGeneral);
  const std::optional<uint16_t> id = styles.cell_xfs[*style].num_fmt_id;
  if (!id) return std::string(kGeneral);
  if (*id >= kFirstCustomNumFmtId) {
    for (const CustomNumFmt& custom : styles.num_fmts) {
      if (custom.id == *id) return custom.code;
    }
    return std::string(kGeneral);
  }
  return std::string(builtin_format_code(*id).value_or(kGeneral));
}

std::string cell_display_text(const StyleSheet& styles, DateSystem system, const SheetCell& cell) {
  if (cell.value.is_empty()) return {};
  return format_cell_value(cell.value, cell_format_code(styles, cell.style), system).text;
}

}  // namespace cmx::model
