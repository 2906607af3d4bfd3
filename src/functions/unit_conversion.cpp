// CONVERT: measurements between units of one category. Units are matched
// byte for byte (case matters); units of the first four categories take a
// one-letter decimal prefix; temperatures convert through Celsius.
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "formula/value_coercion.h"
#include "functions/handlers.h"
#include "functions/numeric_args.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

enum class Category : uint8_t { Distance, Mass, Time, Volume, Temperature };

struct Unit {
  std::string_view name;
  Category category;
  double factor;  // to the category's base unit: metre, gram, second, litre
};

constexpr std::array<Unit, 39> kUnits = {{
    {"m",     Category::Distance,    1},
    {"mi",    Category::Distance,    1609.344},
    {"in",    Category::Distance,    0.0254},
    {"ft",    Category::Distance,    0.3048},
    {"yd",    Category::Distance,    0.9144},
    {"Nmi",   Category::Distance,    1852},
    {"ang",   Category::Distance,    1e-10},
    {"Pica",  Category::Distance,    0.0254 / 72},
    {"pica",  Category::Distance,    0.0254 / 72},
    {"g",     Category::Mass,        1},
    {"u",     Category::Mass,        1.660538782e-24},
    {"sg",    Category::Mass,        14593.903},
    {"lbm",   Category::Mass,        453.59237},
    {"ozm",   Category::Mass,        28.349523125},
    {"s",     Category::Time,        1},
    {"sec",   Category::Time,        1},
    {"mn",    Category::Time,        60},
    {"min",   Category::Time,        60},
    {"hr",    Category::Time,        3600},
    {"d",     Category::Time,        86400},
    {"day",   Category::Time,        86400},
    {"yr",    Category::Time,        31557600},
    {"L",     Category::Volume,      1},
    {"l",     Category::Volume,      1},
    {"lt",    Category::Volume,      1},
    {"tsp",   Category::Volume,      0.00492892159375},
    {"tbs",   Category::Volume,      0.01478676478125},
    {"oz",    Category::Volume,      0.0295735295625},
    {"cup",   Category::Volume,      0.2365882365},
    {"pt",    Category::Volume,      0.473176473},
    {"us_pt", Category::Volume,      0.473176473},
    {"qt",    Category::Volume,      0.946352946},
    {"gal",   Category::Volume,      3.785411784},
    {"C",     Category::Temperature, 1},
    {"cel",   Category::Temperature, 1},
    {"F",     Category::Temperature, 1},
    {"fah",   Category::Temperature, 1},
    {"K",     Category::Temperature, 1},
    {"kel",   Category::Temperature, 1},
}};

struct Prefix {
  char letter;
  double multiplier;
};

constexpr std::array<Prefix, 20> kPrefixes = {{
    {'Y', 1e24}, {'Z', 1e21}, {'E', 1e18}, {'P', 1e15},  {'T', 1e12},  {'G', 1e9},   {'M', 1e6},
    {'k', 1000}, {'h', 100},  {'e', 10},   {'d', 0.1},   {'c', 0.01},  {'m', 0.001}, {'u', 1e-6},
    {'n', 1e-9}, {'p', 1e-12}, {'f', 1e-15}, {'a', 1e-18}, {'z', 1e-21}, {'y', 1e-24},
}};

std::optional<Unit> unit_table(std::string_view name) {
  for (const Unit& unit : kUnits) {
    if (unit.name == name) return unit;
  }
  return std::nullopt;
}

// A whole name wins over a prefixed reading ("min" is minutes, "mi" miles).
// The prefix letters are ASCII, so a text starting with any other byte has
// no prefix.
std::optional<Unit> lookup_unit(std::string_view text) {
  if (auto whole = unit_table(text)) return whole;
  if (text.empty()) return std::nullopt;
  auto rest = unit_table(text.substr(1));
  if (!rest || rest->category == Category::Temperature) return std::nullopt;
  for (const Prefix& prefix : kPrefixes) {
    if (prefix.letter == text[0]) return Unit{text, rest->category, rest->factor * prefix.multiplier};
  }
  return std::nullopt;
}

bool is_celsius(std::string_view name) { return name == "C" || name == "cel"; }
bool is_fahrenheit(std::string_view name) { return name == "F" || name == "fah"; }

// Both only see names lookup_unit found with the temperature category.
double to_celsius(std::string_view name, double x) {
  if (is_celsius(name)) return x;
  if (is_fahrenheit(name)) return (x - 32) * 5 / 9;
  return x - 273.15;
}

double from_celsius(std::string_view name, double c) {
  if (is_celsius(name)) return c;
  if (is_fahrenheit(name)) return c * 9 / 5 + 32;
  return c + 273.15;
}

Result<std::string, CellErrorCode> unit_text(const CellValue& value) {
  if (value.is_error()) return unexpected(value.as_error());
  return value_to_text(value);
}

}  // namespace

void fn_convert(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() != 3) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  auto number = arg_number(args, 0, ctx);
  if (!number.has_value()) {
    out = CellValue::error(number.error());
    return;
  }
  CellValue from_value = eval_scalar(*args[1], ctx);
  CellValue to_value = eval_scalar(*args[2], ctx);
  auto from_text = unit_text(from_value);
  auto to_text = unit_text(to_value);
  if (!from_text.has_value() || !to_text.has_value()) {
    out = CellValue::error(!from_text.has_value() ? from_text.error() : to_text.error());
    return;
  }
  std::optional<Unit> from = lookup_unit(*from_text);
  std::optional<Unit> to = lookup_unit(*to_text);
  if (!from || !to || from->category != to->category) {
    out = CellValue::error(CellErrorCode::NA);
    return;
  }
  if (from->category == Category::Temperature) {
    out = number_result(from_celsius(*to_text, to_celsius(*from_text, *number)));
    return;
  }
  out = number_result(*number * from->factor / to->factor);
}

}  // namespace cmx::formula
