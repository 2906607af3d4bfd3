// Partial style and number-format changes, as edit requests name them and the
// style edits apply them. Whether a colour text or a font size is valid is
// decided when the patch is applied.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cmx::model {

// The attributes a style patch can reset, in the order of its clear list.
enum class StylePatchField : uint8_t {
  Bold, Italic, Strikethrough, FontFamily, FontSize, TextColor, FillColor, Borders,
  HorizontalAlignment, VerticalAlignment, TextWrapping
};

enum class BorderPreset : uint8_t { All, Inner, Horizontal, Vertical, Outer, Left, Top, Right, Bottom, None };
// "solid", "dashed", "dotted", "double": Thin, Dashed, Dotted, Double edges.
enum class BorderLine : uint8_t { Solid, Dashed, Dotted, Double };

struct BorderPatch {
  std::optional<BorderPreset> preset;
  std::optional<BorderLine> style;
  std::optional<std::string> color;  // a colour text, checked when applied
  friend bool operator==(const BorderPatch&, const BorderPatch&) = default;
};

enum class PatchHorizontal : uint8_t { Left, Center, Right };
enum class PatchVertical : uint8_t { Top, Middle, Bottom };
enum class TextWrapping : uint8_t { Overflow, Wrap, Clip };

// A partial style: `clear` resets first, then each present field sets.
struct StylePatch {
  std::optional<bool> bold;
  std::optional<bool> italic;
  std::optional<bool> strikethrough;
  std::optional<std::string> font_family;
  std::optional<double> font_size;
  std::optional<std::string> text_color;
  std::optional<std::string> fill_color;
  std::optional<BorderPatch> border;
  std::optional<PatchHorizontal> horizontal_alignment;
  std::optional<PatchVertical> vertical_alignment;
  std::optional<TextWrapping> text_wrapping;
  std::vector<StylePatchField> clear;
  friend bool operator==(const StylePatch&, const StylePatch&) = default;
};

enum class NumberFormatMutationKind : uint8_t {
  Automatic, PlainText, Number, Percent, Scientific, Currency, Date, Time, Custom,
  IncreaseDecimal, DecreaseDecimal
};

struct NumberFormatMutation {
  NumberFormatMutationKind kind = NumberFormatMutationKind::Automatic;
  std::string pattern;  // only for Custom
  friend bool operator==(const NumberFormatMutation&, const NumberFormatMutation&) = default;
};

}  // namespace cmx::model
