// The public header of the JSON library: reading (reader.h, rules.h), the
// value forms (value.h), compact output (writer.h) and the records built on
// them (style_records.h, cell_records.h, sheet_records.h, edit_request.h,
// answer_records.h).
#pragma once

#include "json/error.h"
#include "json/float_text.h"
#include "json/reader.h"
#include "json/rules.h"
#include "json/value.h"
#include "json/writer.h"
#include "json/style_records.h"
#include "json/cell_records.h"
#include "json/sheet_records.h"
#include "json/export_records.h"
#include "json/export_options.h"
#include "json/edit_request.h"
#include "json/answer_records.h"
