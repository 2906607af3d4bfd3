// Test-only driver for tests/python/test_collab_document.py: opens an .xlsx
// file and either writes its bootstrap update, or projects an update written
// by a peer against that workbook's authored base. Either way it prints what
// it projected, written back into the layout, as one JSON object:
//   document_tool bootstrap BOOK.xlsx UPDATE_OUT
//   document_tool project BOOK.xlsx UPDATE_IN [--lenient] [--migrate]
//   document_tool edit BOOK.xlsx OUT_DIR
// `edit` runs a fixed session of local edits, undo and redo on the first
// sheet, writes the bootstrap as OUT_DIR/0.bin and each step's update as
// OUT_DIR/{step}.bin, and prints the document's roots after each step and
// the final projection written back.
// A refusal prints {"ok":false,"error":...} and exits 0; usage or file
// errors exit 2.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/number_text.h"
#include "collab/hydration.h"
#include "collab/local_operations.h"
#include "collab/undo_history.h"
#include "collab/projection.h"
#include "document_support.h"
#include "json/writer.h"

namespace {

using namespace cmx;
using namespace cmx::collab;

void write_any(std::string& out, const crdt::Any& value) {
  switch (value.kind()) {
    case crdt::AnyKind::kUndefined:
    case crdt::AnyKind::kNull: out += "null"; return;
    case crdt::AnyKind::kBool: out += value.as_bool() ? "true" : "false"; return;
    case crdt::AnyKind::kNumber: {
      // Always with a fraction or exponent, so that the reader sees a float.
      std::string text = format_shortest(value.as_number());
      if (text.find_first_of(".e") == std::string::npos) text += ".0";
      out += text;
      return;
    }
    case crdt::AnyKind::kInteger: out += format_i64(value.as_integer()); return;
    case crdt::AnyKind::kString: json::append_json_string(out, value.as_string()); return;
    case crdt::AnyKind::kBuffer: out += "\"<buffer>\""; return;
    case crdt::AnyKind::kArray: {
      out += '[';
      bool first = true;
      for (const crdt::Any& item : value.as_array()) {
        if (!first) out += ',';
        first = false;
        write_any(out, item);
      }
      out += ']';
      return;
    }
    case crdt::AnyKind::kObject: {
      out += '{';
      bool first = true;
      for (const auto& [key, item] : value.as_object()) {
        if (!first) out += ',';
        first = false;
        json::append_json_string(out, key);
        out += ':';
        write_any(out, item);
      }
      out += '}';
      return;
    }
  }
}

void write_value(std::string& out, const crdt::Value& value) {
  if (value.kind == crdt::ValueKind::kAny) {
    write_any(out, value.any);
    return;
  }
  if (value.kind == crdt::ValueKind::kArray) {
    out += '[';
    bool first = true;
    for (const crdt::Value& item : value.as_array().to_vector()) {
      if (!first) out += ',';
      first = false;
      write_value(out, item);
    }
    out += ']';
    return;
  }
  out += '{';
  bool first = true;
  value.as_map().for_each([&](std::string_view key, const crdt::Value& item) {
    if (!first) out += ',';
    first = false;
    json::append_json_string(out, key);
    out += ':';
    write_value(out, item);
  });
  out += '}';
}

// The four roots of a document as one JSON object.
std::string dump_roots(const crdt::Doc& doc) {
  std::string out = "{";
  bool first = true;
  for (std::string_view name : {kMetadataRoot, kCellFormatsRoot, kSheetOrderRoot, kSheetsRoot}) {
    if (!first) out += ',';
    first = false;
    json::append_json_string(out, name);
    out += ':';
    crdt::Value value;
    value.kind = name == kSheetOrderRoot ? crdt::ValueKind::kArray : crdt::ValueKind::kMap;
    value.branch = doc.find_root(name);
    write_value(out, value);
  }
  return out + "}";
}

// The projection written back with the layout's writers into a fresh
// document, and that document's four roots as JSON.
std::string dump_projection(const Projection& projection, const AuthoredBase& base) {
  auto doc = crdt::Doc::create(1).value();
  {
    crdt::Transaction txn(*doc);
    crdt::MapRef catalog = doc->get_or_create_map(kCellFormatsRoot).value();
    (void)write_cell_format_catalog(txn, catalog, projection.model.styles);
    crdt::MapRef metadata = doc->get_or_create_map(kMetadataRoot).value();
    (void)write_plain(txn, metadata, kBaseFingerprintKey, crdt::Any::string(base.base_fingerprint));
    (void)write_plain(txn, metadata, kSchemaVersionKey, crdt::Any::number(6));
    (void)write_plain(txn, metadata, kStructureGenerationKey,
                      encode_structure_generation(projection.replica.structure_generation));
    crdt::MapRef sheets = doc->get_or_create_map(kSheetsRoot).value();
    crdt::ArrayRef order = doc->get_or_create_array(kSheetOrderRoot).value();
    for (size_t i = 0; i < projection.replica.sheet_keys.size(); ++i) {
      const std::string& key = projection.replica.sheet_keys[i];
      (void)order.push_back(txn, {crdt::Any::string(key)});
      crdt::MapRef sheet = sheets.insert_map(txn, key).value();
      auto written = encode_sheet_map(txn, sheet, projection.model.sheets[i], projection.model.styles);
      if (!written) return "{\"ok\":false,\"error\":\"cannot write back: " + written.error() + "\"}";
    }
  }
  return "{\"ok\":true,\"doc\":" + dump_roots(*doc) + "}";
}

std::string refusal(const std::string& message) {
  std::string out = "{\"ok\":false,\"error\":";
  json::append_json_string(out, message);
  return out + "}";
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

int run_edits(const testing::OpenedWorkbook& book, const std::string& dir) {
  auto opened = open_replica(book.model, book.declared, book.declared_styles, std::nullopt);
  if (!opened) {
    std::printf("%s\n", refusal(opened.error().text).c_str());
    return 0;
  }
  Authority& authority = opened->authority;
  write_file(dir + "/0.bin", opened->bootstrap_update);
  const model::StyleSheet styles = opened->projection.model.styles;
  using Range = model::CellRange;
  const Range corner{{0, 0, false, false}, {1, 1, false, false}};
  ops::StylePatch bold;
  bold.bold = true;
  // A tracked edit: dry run, then one undo step.
  auto tracked = [&](std::vector<ops::WorkbookOp> list) -> std::optional<std::string> {
    auto outcome = dry_run_local_operation(authority, list, LocalOrigin::kUser, styles);
    if (!outcome) return outcome.error().text;
    if (auto done = integrate_update_as_undo_step(authority, outcome->update); !done) return done.error().text;
    authority.base = outcome->base;
    authority.replica_sheet_counter = outcome->replica_sheet_counter;
    return std::nullopt;
  };
  std::string out = "{\"ok\":true,\"steps\":[";
  for (int step = 1; step <= 7; ++step) {
    const crdt::StateVector before = authority.doc->state_vector();
    std::optional<std::string> failure;
    std::vector<uint8_t> update;
    auto undo_redo = [&](bool redo) {
      auto popped = pop_undo_and_reproject(authority, redo);
      if (!popped) failure = popped.error().text;
      else if (!*popped) failure = "nothing to undo or redo";
      else update = (*popped)->update;
    };
    switch (step) {
      case 1: failure = tracked({ops::SetCell{{model::CellValue::number(42), {}, std::nullopt}, {0, {4, 0, false, false}}}}); break;
      case 2: failure = tracked({ops::PatchStyle{0, corner, bold}}); break;
      case 3: failure = tracked({ops::MergeCells{0, Range{{9, 0, false, false}, {10, 2, false, false}}}}); break;
      case 4: failure = tracked({ops::SetCell{{}, {0, {4, 0, false, false}}}}); break;
      case 5: undo_redo(false); break;
      case 6: undo_redo(false); break;
      default: undo_redo(true); break;
    }
    if (failure) {
      std::printf("%s\n", refusal(*failure).c_str());
      return 0;
    }
    if (update.empty()) update = authority.doc->encode_state_as_update(before);
    write_file(dir + "/" + std::to_string(step) + ".bin", update);
    if (step > 1) out += ',';
    out += dump_roots(*authority.doc);
  }
  auto projection = decode_document(authority, true);
  if (!projection) {
    std::printf("%s\n", refusal(projection.error()).c_str());
    return 0;
  }
  out += "],\"final\":" + dump_projection(*projection, *authority.base) + "}";
  std::printf("%s\n", out.c_str());
  return 0;
}

int usage() {
  std::fprintf(stderr, "usage: document_tool bootstrap|project|edit BOOK.xlsx UPDATE|DIR [--lenient] [--migrate]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return usage();
  const std::string command = argv[1];
  auto book = testing::open_workbook_file(argv[2]);
  if (!book) {
    std::fprintf(stderr, "cannot open %s\n", argv[2]);
    return 2;
  }
  if (command == "bootstrap") {
    auto opened = open_replica(book->model, book->declared, book->declared_styles, std::nullopt);
    if (!opened) {
      std::printf("%s\n", refusal(opened.error().text).c_str());
      return 0;
    }
    std::ofstream out(argv[3], std::ios::binary);
    out.write(reinterpret_cast<const char*>(opened->bootstrap_update.data()),
              static_cast<std::streamsize>(opened->bootstrap_update.size()));
    if (!out) return 2;
    std::printf("%s\n", dump_projection(opened->projection, *opened->authority.base).c_str());
    return 0;
  }
  if (command == "edit") return run_edits(*book, argv[3]);
  if (command != "project") return usage();
  bool strict = true;
  bool migrate = false;
  for (int i = 4; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "--lenient") {
      strict = false;
    } else if (flag == "--migrate") {
      migrate = true;
    } else {
      return usage();
    }
  }
  std::ifstream in(argv[3], std::ios::binary);
  if (!in) return 2;
  const std::vector<uint8_t> update((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto base = build_authored_base(book->model, book->declared, book->declared_styles);
  if (!base) {
    std::printf("%s\n", refusal(base.error()).c_str());
    return 0;
  }
  Authority authority{crdt::Doc::create_random(), std::make_shared<const AuthoredBase>(std::move(*base)), 0};
  if (auto hydrated = hydrate_from_update(*authority.doc, update); !hydrated) {
    std::printf("%s\n", refusal(hydrated.error()).c_str());
    return 0;
  }
  if (migrate) {
    if (auto migrated = hydrate_document(authority); !migrated) {
      std::printf("%s\n", refusal(migrated.error()).c_str());
      return 0;
    }
  }
  auto projection = decode_document(authority, strict);
  if (!projection) {
    std::printf("%s\n", refusal(projection.error()).c_str());
    return 0;
  }
  std::printf("%s\n", dump_projection(*projection, *authority.base).c_str());
  return 0;
}
