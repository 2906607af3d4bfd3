// A workbook that has no source package, as the complete part list of a new
// package, and the ZIP output that every save ends with.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "model/workbook.h"
#include "opc/package_archive.h"
#include "opc/zip_reader.h"
#include "opc/zip_writer.h"
#include "writer/save_plan.h"
#include "writer/xml_part_writer.h"

namespace cmx::writer {

// The parts in package order: content types, root relationships, workbook,
// workbook relationships, shared strings, styles and theme (when not
// default), then each sheet followed by its relationships part. Depends on
// nothing but the two arguments.
Result<std::vector<opc::PackagePart>, SpreadsheetParseError> write_new_package(
    const model::WorkbookModel& model, uint32_t active_sheet);

// Every palette entry empty or six hexadecimal digits after an optional "#".
Result<void, SpreadsheetParseError> check_indexed_palette(const std::vector<std::string>& palette);

void write_defined_name(XmlPartWriter& writer, const model::DefinedName& name);

// ---- ZIP output -------------------------------------------------------------

// Appends one entry written afresh.
Result<void, std::string> write_package_part(opc::ZipWriter& writer, std::string_view name,
                                             std::string_view bytes);

// Copies the source archive's entry of exactly this name raw when its content
// equals `bytes`; answers whether it did.
Result<bool, std::string> copy_unchanged_part(const opc::ZipArchive& source, opc::ZipWriter& writer,
                                              std::string_view name, std::string_view bytes);

// Every part written afresh, in list order.
Result<std::string, std::string> write_package_zip(std::span<const opc::PackagePart> parts);
Result<std::string, std::string> write_package_zip(std::span<const opc::PartView> parts);

// The archive of a save: parts equal to the source archive's entries are
// copied raw from it when it is given and opens; the rest are deflated.
Result<std::string, std::string> write_package_archive(std::span<const opc::PackagePart> parts,
                                                       std::optional<std::string_view> source_archive);
Result<std::string, std::string> write_package_archive(std::span<const opc::PartView> parts,
                                                       std::optional<std::string_view> source_archive);
// The part list of a save into the source package.
Result<std::string, std::string> write_package_archive(std::span<const SavedPart> parts,
                                                       std::optional<std::string_view> source_archive);

}  // namespace cmx::writer
