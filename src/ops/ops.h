// The edit operations' public header: what other libraries include.
#pragma once

#include "ops/apply.h"
#include "ops/batch.h"
#include "ops/error.h"
#include "ops/formatting.h"
#include "ops/style_edits.h"
#include "ops/workbook_op.h"
