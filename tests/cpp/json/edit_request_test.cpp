// Edit requests: the envelope, the steps with their guards, rows and
// patches, each refusal from a small request that triggers it, and a round
// trip of random requests through their JSON text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/json.h"
#include "json/record_test_support.h"

namespace cmx::json {
namespace {

using model::NumberFormatMutation;
using model::NumberFormatMutationKind;
using model::StylePatch;
using testing::RandomRecords;

struct Case {
  std::string_view name;
  std::string_view input;
  std::string_view expected;  // the record as canonical text, or the error text
};

// --- a writer of requests for the tests: none members are left out ----------------

JsonValue rows_to_tree(const TextRows& rows) {
  JsonValue::Array out;
  for (const auto& row : rows) {
    JsonValue::Array texts;
    for (const std::string& text : row) texts.push_back(JsonValue(text));
    out.push_back(JsonValue(std::move(texts)));
  }
  return JsonValue(std::move(out));
}

JsonValue patch_to_tree(const StylePatch& patch) {
  JsonObject o;
  auto put_bool = [&](std::string_view key, const std::optional<bool>& v) {
    if (v) value_map_insert_bool(o, key, *v);
  };
  auto put_text = [&](std::string_view key, const std::optional<std::string>& v) {
    if (v) value_map_insert_str(o, key, *v);
  };
  put_bool("bold", patch.bold);
  put_bool("italic", patch.italic);
  put_bool("strikethrough", patch.strikethrough);
  put_text("fontFamily", patch.font_family);
  if (patch.font_size) value_map_insert_f64(o, "fontSize", *patch.font_size);
  put_text("textColor", patch.text_color);
  put_text("fillColor", patch.fill_color);
  if (patch.border) {
    JsonObject b;
    if (patch.border->preset) value_map_insert_str(b, "preset", border_preset_word(*patch.border->preset));
    if (patch.border->style) value_map_insert_str(b, "style", border_line_word(*patch.border->style));
    if (patch.border->color) value_map_insert_str(b, "color", *patch.border->color);
    o.insert("borders", JsonValue(std::move(b)));
  }
  if (patch.horizontal_alignment) {
    value_map_insert_str(o, "horizontalAlignment", horizontal_alignment_word(*patch.horizontal_alignment));
  }
  if (patch.vertical_alignment) {
    value_map_insert_str(o, "verticalAlignment", vertical_alignment_word(*patch.vertical_alignment));
  }
  if (patch.text_wrapping) value_map_insert_str(o, "textWrapping", text_wrapping_word(*patch.text_wrapping));
  if (!patch.clear.empty()) {
    JsonValue::Array words;
    for (model::StylePatchField field : patch.clear) words.push_back(JsonValue(style_patch_field_word(field)));
    o.insert("clear", JsonValue(std::move(words)));
  }
  return JsonValue(std::move(o));
}

JsonValue step_to_tree(const EditStep& step) {
  JsonObject o;
  value_map_insert_str(o, "op", edit_operation_word(step.operation));
  std::visit(
      [&](const auto& op) {
        value_map_insert_range_target(o, op.target);
        using T = std::decay_t<decltype(op)>;
        if constexpr (std::is_same_v<T, SetCellInputsStep>) {
          o.insert("inputs", rows_to_tree(op.inputs));
        } else if constexpr (std::is_same_v<T, SetFormulasStep>) {
          o.insert("formulas", rows_to_tree(op.formulas));
        } else if constexpr (std::is_same_v<T, SetNumberFormatStep>) {
          JsonObject f;
          value_map_insert_str(f, "type", number_format_mutation_word(op.format.kind));
          if (op.format.kind == NumberFormatMutationKind::Custom) value_map_insert_str(f, "pattern", op.format.pattern);
          o.insert("format", JsonValue(std::move(f)));
        } else {
          o.insert("patch", patch_to_tree(op.patch));
        }
      },
      step.operation);
  if (step.expect) {
    JsonValue::Array rows;
    for (const auto& row : step.expect->cells) {
      JsonValue::Array guards;
      for (const CellGuard& g : row) {
        JsonObject c;
        if (g.value) c.insert("value", cell_value_to_json_value(*g.value));
        if (g.formula) c.insert("formula", *g.formula ? JsonValue(**g.formula) : JsonValue());
        if (g.display_text) value_map_insert_str(c, "displayText", *g.display_text);
        guards.push_back(JsonValue(std::move(c)));
      }
      rows.push_back(JsonValue(std::move(guards)));
    }
    JsonObject guard;
    guard.insert("cells", JsonValue(std::move(rows)));
    o.insert("expect", JsonValue(std::move(guard)));
  }
  return JsonValue(std::move(o));
}

JsonValue request_to_tree(const EditRequest& request) {
  JsonObject o;
  value_map_insert_str(o, "expectVersion", request.expect_version);
  value_map_insert_str(o, "source", edit_source_word(request.source));
  value_map_insert_str(o, "history", history_mode_word(request.history));
  JsonObject calculation;
  if (request.calculation.now_serial) value_map_insert_f64(calculation, "nowSerial", *request.calculation.now_serial);
  o.insert("calculation", JsonValue(std::move(calculation)));
  JsonValue::Array steps;
  for (const EditStep& step : request.steps) steps.push_back(step_to_tree(step));
  o.insert("steps", JsonValue(std::move(steps)));
  return JsonValue(std::move(o));
}

std::string read_request(std::string_view text) {
  auto request = parse_edit_request(text);
  if (!request) return json_error_text(request.error());
  return json_value_to_string(request_to_tree(*request));
}

// One step inside a minimal request: the step written again, or the error
// message without its place (placing is tested on its own).
std::string read_step(std::string_view step) {
  std::string text = R"({"expectVersion":"v","steps":[)" + std::string(step) + "]}";
  auto request = parse_edit_request(text);
  if (!request) {
    EXPECT_TRUE(request.error().has_position());
    return json_error_message(request.error());
  }
  if (request->steps.size() != 1) return "not one step";
  return json_value_to_string(step_to_tree(request->steps[0]));
}

// --- the envelope -------------------------------------------------------------------------

TEST(EditRequest, Envelope) {
  constexpr std::string_view kDefaults =
      R"({"calculation":{},"expectVersion":"v","history":"separate","source":"host","steps":[]})";
  const Case cases[] = {
      {"defaults", R"({"expectVersion":"v","steps":[]})", kDefaults},
      {"all members", R"({"steps":[],"calculation":{"nowSerial":45000},"history":"none","source":"agent","expectVersion":"1-2"})",
       R"({"calculation":{"nowSerial":45000.0},"expectVersion":"1-2","history":"none","source":"agent","steps":[]})"},
      {"words as unit maps", R"({"expectVersion":"v","source":{"agent":null},"history":{"none":null},"steps":[]})",
       R"({"calculation":{},"expectVersion":"v","history":"none","source":"agent","steps":[]})"},
      {"array form", R"(["v","host","separate",[],[]])", kDefaults},
      {"calculation empty object", R"({"expectVersion":"v","calculation":{},"steps":[]})", kDefaults},
      {"calculation null serial", R"({"expectVersion":"v","calculation":{"nowSerial":null},"steps":[]})", kDefaults},
      {"calculation array", R"(["v","host","separate",[1.5],[]])",
       R"({"calculation":{"nowSerial":1.5},"expectVersion":"v","history":"separate","source":"host","steps":[]})"},
      {"whitespace around", " \n{\"expectVersion\":\"v\",\"steps\":[]}\n ", kDefaults},
      // Refusals, in the order the reader meets them.
      {"empty text", "", "EOF while parsing a value at line 1 column 0"},
      {"not a record", "5", "invalid type: integer `5`, expected struct EditRequest at line 1 column 1"},
      {"both missing", "{}", "missing field `expectVersion` at line 1 column 2"},
      {"steps missing", R"({"expectVersion":"1-22"})", "missing field `steps` at line 1 column 24"},
      {"repeated member", R"({"expectVersion":"v","expectVersion":"w","steps":[]})",
       "duplicate field `expectVersion` at line 1 column 36"},
      {"capital member", R"({"expectVersion":"v","Steps":[]})",
       "unknown field `Steps`, expected one of `expectVersion`, `source`, `history`, `calculation`, `steps` at line 1 column 28"},
      {"version not a string", R"({"expectVersion":5,"steps":[]})",
       "invalid type: integer `5`, expected a string at line 1 column 18"},
      {"empty array", "[]", "invalid length 0, expected struct EditRequest with 5 elements at line 1 column 2"},
      {"version only", R"(["v"])", "invalid length 4, expected struct EditRequest with 5 elements at line 1 column 5"},
      {"sixth element", R"(["v","host","none",{},[],1])", "trailing characters at line 1 column 26"},
      {"trailing comma", R"(["v","host","none",{},[],])", "trailing comma at line 1 column 26"},
      {"unknown source", R"({"expectVersion":"v","source":"guest","steps":[]})",
       "unknown variant `guest`, expected `host` or `agent` at line 1 column 37"},
      {"unknown history", R"({"expectVersion":"v","history":"all","steps":[]})",
       "unknown variant `all`, expected `separate` or `none` at line 1 column 36"},
      {"null source", R"({"expectVersion":"v","source":null,"steps":[]})", "expected value at line 1 column 31"},
      {"null calculation", R"({"expectVersion":"v","calculation":null,"steps":[]})",
       "invalid type: null, expected struct CalculationRequest at line 1 column 39"},
      {"unknown calculation member", R"({"expectVersion":"v","calculation":{"now":1},"steps":[]})",
       "unknown field `now`, expected `nowSerial` at line 1 column 41"},
      {"serial twice", R"({"expectVersion":"v","calculation":{"nowSerial":1,"nowSerial":2},"steps":[]})",
       "duplicate field `nowSerial` at line 1 column 61"},
      {"serial a string", R"({"expectVersion":"v","calculation":{"nowSerial":"x"},"steps":[]})",
       "invalid type: string \"x\", expected f64 at line 1 column 51"},
      {"calculation array of two", R"({"expectVersion":"v","calculation":[1,2],"steps":[]})",
       "trailing characters at line 1 column 39"},
      {"null steps", R"({"expectVersion":"v","steps":null})", "invalid type: null, expected a sequence at line 1 column 33"},
      {"second value", R"({"expectVersion":"v","steps":[]} {})", "trailing characters at line 1 column 34"},
      {"text ends in the steps", R"({"expectVersion":"v","steps":[)", "EOF while parsing a list at line 1 column 30"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_request(c.input), c.expected);
  }
  // Nesting inside a step is bounded like every other value.
  std::string deep = R"({"expectVersion":"v","steps":[{"op":"setCellInputs","inputs":)" + std::string(200, '[');
  EXPECT_EQ(read_request(deep), "recursion limit exceeded at line 1 column 186");
}

TEST(EditRequest, StepErrorsArePlacedAfterTheStep) {
  const Case cases[] = {
      {"last step: after the bracket", R"({"expectVersion":"v","steps":["x"]})",
       "an edit step must be an object at line 1 column 34"},
      {"earlier step: after the comma and space", R"({"expectVersion":"v","steps":[ 5 , {}]})",
       "an edit step must be an object at line 1 column 35"},
      {"fault inside a step", "{\"expectVersion\":\"v\",\"steps\":[\n{\"op\":\"setFormula\"}\n]}",
       "unknown variant `setFormula`, expected one of `setCellInputs`, `setFormulas`, `setNumberFormat`, "
       "`patchStyle` at line 3 column 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_request(c.input), c.expected);
  }
}

// Cases whose texts are put together from pieces.
struct StepCase {
  std::string_view name;
  std::string input;
  std::string expected;
};

// --- steps -------------------------------------------------------------------------------------

constexpr std::string_view kTarget = R"("target":{"sheetId":"s","range":{"kind":"a1","a1":"A1"}})";
constexpr std::string_view kTargetOut = R"("target":{"range":{"a1":"A1","kind":"a1"},"sheetId":"s"})";

std::string step(std::string_view members) { return "{" + std::string(kTarget) + "," + std::string(members) + "}"; }
std::string out(std::string_view before, std::string_view after = "") {
  return "{" + std::string(before) + std::string(kTargetOut) + std::string(after) + "}";
}

TEST(EditRequest, Steps) {
  const StepCase cases[] = {
      {"formulas", step(R"("op":"setFormulas","formulas":[["A2+1","B2"]])"),
       out(R"("formulas":[["A2+1","B2"]],"op":"setFormulas",)")},
      {"inputs with empty rows", step(R"("op":"setCellInputs","inputs":[[],["=1",""]])"),
       out(R"("inputs":[[],["=1",""]],"op":"setCellInputs",)")},
      {"row-col target by index", R"({"op":"setCellInputs","inputs":[],"target":{"sheetId":"s","range":{"kind":1,"start":[0,0],"end":[1,1]}}})",
       R"({"inputs":[],"op":"setCellInputs","target":{"range":{"end":{"col":1,"row":1},"kind":"rowCol","start":{"col":0,"row":0}},"sheetId":"s"}})"},
      {"last op wins", step(R"("op":"patchStyle","op":"setFormulas","formulas":[])"),
       out(R"("formulas":[],"op":"setFormulas",)")},
      {"null guard", step(R"("op":"setFormulas","formulas":[],"expect":null)"), out(R"("formulas":[],"op":"setFormulas",)")},
      {"guard", step(R"("op":"setFormulas","formulas":[],"expect":{"cells":[[{},[],{"value":{"kind":"number","value":2},"formula":"A1","displayText":null}],[[null,"B1","x"]]]})"),
       out(R"("expect":{"cells":[[{},{},{"formula":"A1","value":{"kind":"number","value":2.0}}],[{"displayText":"x","formula":"B1"}]]},"formulas":[],"op":"setFormulas",)")},
      {"guard as array", step(R"("op":"setFormulas","formulas":[],"expect":[[]])"),
       out(R"("expect":{"cells":[]},"formulas":[],"op":"setFormulas",)")},
      {"not an object", R"("setFormulas")", "an edit step must be an object"},
      {"unknown op", step(R"("op":"setFormula")"),
       "unknown variant `setFormula`, expected one of `setCellInputs`, `setFormulas`, `setNumberFormat`, `patchStyle`"},
      {"no op", step(R"("formulas":[])"), "missing field `op`"},
      {"op an integer", step(R"("op":1)"), "invalid type: integer `1`, expected variant identifier"},
      {"extra member of inputs", step(R"("op":"setCellInputs","inputs":[],"value":1)"),
       "unknown field `value`, expected `target` or `inputs`"},
      {"extra member of formulas", step(R"("op":"setFormulas","formulas":[],"value":1)"),
       "unknown field `value`, expected `target` or `formulas`"},
      {"extra member of format", step(R"("op":"setNumberFormat","format":"date","inputs":[])"),
       "unknown field `inputs`, expected `target` or `format`"},
      {"extra member of patch", step(R"("op":"patchStyle","patch":{},"format":"date")"),
       "unknown field `format`, expected `target` or `patch`"},
      {"both fields missing", R"({"op":"setCellInputs"})", "missing field `target`"},
      {"second field missing", step(R"("op":"setCellInputs")"), "missing field `inputs`"},
      {"inputs fault found before target fault", R"({"op":"setCellInputs","target":5,"inputs":5})",
       "invalid type: integer `5`, expected a sequence"},
      {"target fault", R"({"op":"setCellInputs","target":5,"inputs":[]})",
       "invalid type: integer `5`, expected struct RangeTarget"},
      {"guard fault before op fault", step(R"("op":"nothing","expect":5)"),
       "invalid type: integer `5`, expected struct StepGuard"},
      {"flat formulas", step(R"("op":"setFormulas","formulas":["A1"])"),
       "invalid type: string \"A1\", expected a sequence"},
      {"number among inputs", step(R"("op":"setCellInputs","inputs":[["a",5]])"),
       "invalid type: integer `5`, expected a string"},
      {"null among inputs", step(R"("op":"setCellInputs","inputs":[[null]])"), "invalid type: null, expected a string"},
      {"guard empty array", step(R"("op":"setFormulas","formulas":[],"expect":[])"),
       "invalid length 0, expected struct StepGuard with 1 element"},
      {"guard array of two", step(R"("op":"setFormulas","formulas":[],"expect":[[],[]])"),
       "invalid length 2, expected fewer elements in array"},
      {"guard extra member", step(R"("op":"setFormulas","formulas":[],"expect":{"cells":[],"note":1})"),
       "unknown field `note`, expected `cells`"},
      {"guard without cells", step(R"("op":"setFormulas","formulas":[],"expect":{})"), "missing field `cells`"},
      {"guard row not a list", step(R"("op":"setFormulas","formulas":[],"expect":{"cells":[{}]})"),
       "invalid type: map, expected a sequence"},
      {"cell guard extra member", step(R"("op":"setFormulas","formulas":[],"expect":{"cells":[[{"x":1}]]})"),
       "unknown field `x`, expected one of `value`, `formula`, `displayText`"},
      {"cell guard of four", step(R"("op":"setFormulas","formulas":[],"expect":{"cells":[[[null,null,null,null]]]})"),
       "invalid length 4, expected fewer elements in array"},
      {"cell guard a number", step(R"("op":"setFormulas","formulas":[],"expect":{"cells":[[5]]})"),
       "invalid type: integer `5`, expected struct CellGuard"},
      {"cell guard members in byte order", step(R"("op":"setFormulas","formulas":[],"expect":{"cells":[[{"value":5,"formula":5}]]})"),
       "invalid type: integer `5`, expected a string"},
      {"cell guard value", step(R"("op":"setFormulas","formulas":[],"expect":{"cells":[[{"value":{"kind":"text"}}]]})"),
       "missing field `value`"},
  };
  for (const StepCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_step(c.input), c.expected);
  }
}

// --- patches -------------------------------------------------------------------------------------

std::string patch_step(std::string_view patch) { return step(R"("op":"patchStyle","patch":)" + std::string(patch)); }
std::string patch_out(std::string_view patch) { return R"({"op":"patchStyle","patch":)" + std::string(patch) + "," + std::string(kTargetOut) + "}"; }
std::string format_step(std::string_view format) { return step(R"("op":"setNumberFormat","format":)" + std::string(format)); }
std::string format_out(std::string_view format) { return R"({"format":)" + std::string(format) + R"(,"op":"setNumberFormat",)" + std::string(kTargetOut) + "}"; }

TEST(EditRequest, StylePatches) {
  constexpr std::string_view kEleven =
      "one of `bold`, `italic`, `strikethrough`, `fontFamily`, `fontSize`, `textColor`, `fillColor`, `borders`, "
      "`horizontalAlignment`, `verticalAlignment`, `textWrapping`";
  const StepCase cases[] = {
      {"unknown members skipped", patch_step(R"({"underline":true,"bold":null,"italic":false,"borders":{"width":3,"preset":"outer"}})"),
       patch_out(R"({"borders":{"preset":"outer"},"italic":false})")},
      {"integer size", patch_step(R"({"fontSize":11})"), patch_out(R"({"fontSize":11.0})")},
      {"values not judged", patch_step(R"({"fontSize":-5,"textColor":"red","fontFamily":""})"),
       patch_out(R"({"fontFamily":"","fontSize":-5.0,"textColor":"red"})")},
      {"words as unit maps", patch_step(R"({"horizontalAlignment":{"center":null},"verticalAlignment":{"bottom":{}},"textWrapping":"clip"})"),
       patch_out(R"({"horizontalAlignment":"center","textWrapping":"clip","verticalAlignment":"bottom"})")},
      {"repeated clear words kept", patch_step(R"({"clear":["bold","borders","bold"]})"),
       patch_out(R"({"clear":["bold","borders","bold"]})")},
      {"twelve values", patch_step(R"([true,false,null,"Arial",10.5,"#FF0000","#00FF00",["all","double","#000000"],"left","top","wrap",["fontSize"]])"),
       patch_out(R"({"bold":true,"borders":{"color":"#000000","preset":"all","style":"double"},"clear":["fontSize"],"fillColor":"#00FF00","fontFamily":"Arial","fontSize":10.5,"horizontalAlignment":"left","italic":false,"textColor":"#FF0000","textWrapping":"wrap","verticalAlignment":"top"})")},
      {"short array", patch_step(R"([true])"), patch_out(R"({"bold":true})")},
      {"thirteen values", patch_step(R"([null,null,null,null,null,null,null,null,null,null,null,[],1])"),
       "invalid length 13, expected 12 elements in sequence"},
      {"patch a number", patch_step("5"), "invalid type: integer `5`, expected struct StylePatch"},
      {"bold an integer", patch_step(R"({"bold":1})"), "invalid type: integer `1`, expected a boolean"},
      {"size a string", patch_step(R"({"fontSize":"11"})"), "invalid type: string \"11\", expected f64"},
      {"colour a number", patch_step(R"({"textColor":5})"), "invalid type: integer `5`, expected a string"},
      {"clear null", patch_step(R"({"clear":null})"), "invalid type: null, expected a sequence"},
      {"clear clear", patch_step(R"({"clear":["clear"]})"), "unknown variant `clear`, expected " + std::string(kEleven)},
      {"unit map holding true", patch_step(R"({"horizontalAlignment":{"center":true}})"),
       "invalid type: boolean `true`, expected unit"},
      {"word a number", patch_step(R"({"horizontalAlignment":1})"), "invalid type: integer `1`, expected string or map"},
      {"empty map", patch_step(R"({"borders":{"preset":{}}})"), "invalid value: map, expected map with a single key"},
      {"horizontal word", patch_step(R"({"horizontalAlignment":"justify"})"),
       "unknown variant `justify`, expected one of `left`, `center`, `right`"},
      {"vertical word", patch_step(R"({"verticalAlignment":"center"})"),
       "unknown variant `center`, expected one of `top`, `middle`, `bottom`"},
      {"wrapping word", patch_step(R"({"textWrapping":"shrink"})"),
       "unknown variant `shrink`, expected one of `overflow`, `wrap`, `clip`"},
      {"preset word", patch_step(R"({"borders":{"preset":"diagonal"}})"),
       "unknown variant `diagonal`, expected one of `all`, `inner`, `horizontal`, `vertical`, `outer`, `left`, "
       "`top`, `right`, `bottom`, `none`"},
      {"line word", patch_step(R"({"borders":{"style":"thin"}})"),
       "unknown variant `thin`, expected one of `solid`, `dashed`, `dotted`, `double`"},
      {"borders of four", patch_step(R"({"borders":[null,null,null,null]})"),
       "invalid length 4, expected 3 elements in sequence"},
      {"borders a number", patch_step(R"({"borders":5})"), "invalid type: integer `5`, expected struct BorderPatch"},
  };
  for (const StepCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_step(c.input), c.expected);
  }
}

TEST(EditRequest, NumberFormatMutations) {
  constexpr std::string_view kElevenKinds =
      "one of `automatic`, `plainText`, `number`, `percent`, `scientific`, `currency`, `date`, `time`, `custom`, "
      "`increaseDecimal`, `decreaseDecimal`";
  const StepCase cases[] = {
      {"word alone", format_step(R"("date")"), format_out(R"({"type":"date"})")},
      {"other members dropped", format_step(R"({"type":"percent","pattern":"0","x":[1]})"), format_out(R"({"type":"percent"})")},
      {"custom", format_step(R"({"type":"custom","pattern":"0.00","decimals":2})"),
       format_out(R"({"pattern":"0.00","type":"custom"})")},
      {"custom empty pattern passes", format_step(R"(["custom",""])"), format_out(R"({"pattern":"","type":"custom"})")},
      {"array unit", format_step(R"(["decreaseDecimal"])"), format_out(R"({"type":"decreaseDecimal"})")},
      {"capital word", format_step(R"("Date")"), "unknown variant `Date`, expected " + std::string(kElevenKinds)},
      {"capital type", format_step(R"({"type":"Percent"})"), "unknown variant `Percent`, expected " + std::string(kElevenKinds)},
      {"null", format_step("null"), "invalid type: null, expected internally tagged enum NumberFormatMutation"},
      {"type a number", format_step(R"({"type":3})"), "invalid type: integer `3`, expected variant identifier"},
      {"no type", format_step(R"({"pattern":"0"})"), "missing field `type`"},
      {"empty array", format_step("[]"), "missing field `type`"},
      {"unit with an element", format_step(R"(["percent",1])"), "invalid length 1, expected 0 elements in sequence"},
      {"custom without pattern", format_step(R"({"type":"custom"})"), "missing field `pattern`"},
      {"custom array short", format_step(R"(["custom"])"),
       "invalid length 0, expected struct variant NumberFormatMutation::Custom with 1 element"},
      {"custom array long", format_step(R"(["custom","0","x"])"), "invalid length 2, expected 1 element in sequence"},
      {"pattern a number", format_step(R"({"type":"custom","pattern":0})"), "invalid type: integer `0`, expected a string"},
  };
  for (const StepCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_step(c.input), c.expected);
  }
}

TEST(EditRequest, TargetLists) {
  auto read = [](std::string_view text) -> std::string {
    auto list = read_json_text(text, [](JsonReader& r) { return deserialize_range_target_list(r); });
    if (!list) return json_error_text(list.error());
    std::string out;
    for (const RangeTarget& t : *list) out += json_value_to_string(range_target_to_json_value(t));
    return out;
  };
  EXPECT_EQ(read("[]"), "");
  EXPECT_EQ(read(R"([["a",["a1","B2"]]])"), R"({"range":{"a1":"B2","kind":"a1"},"sheetId":"a"})");
  EXPECT_EQ(read(R"({})"), "invalid type: map, expected a sequence at line 1 column 0");
  // The missing member is reported just after the target's closing brace.
  EXPECT_EQ(read(R"([{"sheetId":"a"} ])"), "missing field `range` at line 1 column 16");
}

// --- round trip ---------------------------------------------------------------------------------

TextRows random_rows(RandomRecords& rnd) {
  TextRows rows(rnd.below(3));
  for (auto& row : rows) {
    for (uint32_t n = rnd.below(3); n > 0; --n) row.push_back(rnd.text());
  }
  return rows;
}

template <typename T>
std::optional<T> maybe(RandomRecords& rnd, T value) {
  return rnd.coin() ? std::optional<T>(std::move(value)) : std::nullopt;
}

StylePatch random_patch(RandomRecords& rnd) {
  StylePatch p;
  p.bold = maybe(rnd, rnd.coin());
  p.italic = maybe(rnd, rnd.coin());
  p.strikethrough = maybe(rnd, rnd.coin());
  p.font_family = maybe(rnd, rnd.text());
  p.font_size = maybe(rnd, rnd.finite());
  p.text_color = maybe(rnd, rnd.text());
  p.fill_color = maybe(rnd, rnd.text());
  if (rnd.coin()) {
    model::BorderPatch b;
    b.preset = maybe(rnd, static_cast<model::BorderPreset>(rnd.below(10)));
    b.style = maybe(rnd, static_cast<model::BorderLine>(rnd.below(4)));
    b.color = maybe(rnd, rnd.text());
    p.border = b;
  }
  p.horizontal_alignment = maybe(rnd, static_cast<model::PatchHorizontal>(rnd.below(3)));
  p.vertical_alignment = maybe(rnd, static_cast<model::PatchVertical>(rnd.below(3)));
  p.text_wrapping = maybe(rnd, static_cast<model::TextWrapping>(rnd.below(3)));
  for (uint32_t n = rnd.below(4); n > 0; --n) p.clear.push_back(static_cast<model::StylePatchField>(rnd.below(11)));
  return p;
}

EditStep random_step(RandomRecords& rnd) {
  EditStep s;
  RangeTarget target = testing::random_target(rnd);
  switch (rnd.below(4)) {
    case 0: s.operation = SetCellInputsStep{target, random_rows(rnd)}; break;
    case 1: s.operation = SetFormulasStep{target, random_rows(rnd)}; break;
    case 2: {
      NumberFormatMutation m;
      m.kind = static_cast<NumberFormatMutationKind>(rnd.below(11));
      if (m.kind == NumberFormatMutationKind::Custom) m.pattern = rnd.text();
      s.operation = SetNumberFormatStep{target, m};
      break;
    }
    default: s.operation = PatchStyleStep{target, random_patch(rnd)}; break;
  }
  if (rnd.coin()) {
    StepGuard g;
    g.cells.resize(rnd.below(3));
    for (auto& row : g.cells) {
      for (uint32_t n = rnd.below(3); n > 0; --n) {
        row.push_back(CellGuard{maybe(rnd, testing::random_value(rnd)), maybe(rnd, rnd.text()), maybe(rnd, rnd.text())});
      }
    }
    s.expect = std::move(g);
  }
  return s;
}

TEST(EditRequest, RandomRequestsReadBack) {
  RandomRecords rnd(43);
  for (int i = 0; i < 400; ++i) {
    EditRequest request;
    request.expect_version = rnd.text();
    request.source = static_cast<EditSource>(rnd.below(2));
    request.history = static_cast<HistoryMode>(rnd.below(2));
    request.calculation.now_serial = maybe(rnd, rnd.finite());
    for (uint32_t n = rnd.below(4); n > 0; --n) request.steps.push_back(random_step(rnd));
    std::string text = json_value_to_string(request_to_tree(request));
    auto back = parse_edit_request(text);
    ASSERT_TRUE(back.has_value()) << text << "\n" << json_error_text(back.error());
    EXPECT_EQ(*back, request) << text;
  }
}

}  // namespace
}  // namespace cmx::json
