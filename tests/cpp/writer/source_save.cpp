// Test-only driver: opens an .xlsx as a session would (model and source
// package), optionally edits it, saves it back into its source package and
// writes the archive, so that pytest can set source and save side by side in
// openpyxl. Edits: --set-a1 puts the number 4242 into A1 of the first
// worksheet (keeping its style); --restyle gives that cell a new bold font.
// Prints one JSON line, {"ok":true} or {"ok":false,"error":"..."}; only a
// usage or file error exits 2. With --time it adds the seconds the save took.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

#include "../workbook_driver.h"
#include "source_save_support.h"

int main(int argc, char** argv) {
  using namespace cmx;
  std::string input;
  std::string output;
  bool set_a1 = false;
  bool restyle = false;
  bool time = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--set-a1") {
      set_a1 = true;
    } else if (arg == "--restyle") {
      restyle = true;
    } else if (arg == "--time") {
      time = true;
    } else if (input.empty()) {
      input = arg;
    } else {
      output = arg;
    }
  }
  if (input.empty() || output.empty()) {
    std::fprintf(stderr, "usage: source_save [--set-a1] [--restyle] [--time] in.xlsx out.xlsx\n");
    return 2;
  }
  const std::optional<std::string> bytes = driver::read_file(input);
  if (!bytes) {
    std::fprintf(stderr, "cannot read %s\n", input.c_str());
    return 2;
  }
  auto held = writer::testing::hold_workbook(*bytes);
  if (!held) {
    driver::print_refusal(held.error());
    return 0;
  }
  if ((set_a1 && !held->set_a1()) || (restyle && !held->restyle_a1())) {
    driver::print_refusal("no worksheet to edit");
    return 0;
  }
  const auto started = std::chrono::steady_clock::now();
  auto saved = held->save();
  if (!saved) {
    driver::print_refusal(xml::parse_error_message(saved.error()));
    return 0;
  }
  auto archive = writer::write_package_archive(*saved, std::string_view(*bytes));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (!archive) {
    driver::print_refusal(archive.error());
    return 0;
  }
  std::ofstream out(output, std::ios::binary);
  out.write(archive->data(), static_cast<std::streamsize>(archive->size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", output.c_str());
    return 2;
  }
  if (time) {
    std::printf("{\"ok\":true,\"seconds\":%.6f}\n", seconds);
  } else {
    std::printf("{\"ok\":true}\n");
  }
  return 0;
}
