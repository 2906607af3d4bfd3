// The edit operations' public header: what other libraries include.
#pragma once

#include "ops/apply.h"
#include "ops/batch.h"
#include "ops/error.h"
#include "ops/formatting.h"
#include "ops/formula_rewrite.h"
#include "ops/names_links_charts.h"
#include "ops/ref_shift.h"
#include "ops/sheet_edits.h"
#include "ops/sheet_qualifiers.h"
#include "ops/structural.h"
#include "ops/style_edits.h"
#include "ops/workbook_op.h"
