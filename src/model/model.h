// The workbook model's public header: what other libraries include.
#pragma once

#include "model/address.h"
#include "model/anchor_rect.h"
#include "model/cell_moves.h"
#include "model/cell_source.h"
#include "model/cell_value.h"
#include "model/date_time.h"
#include "model/display_text.h"
#include "model/format_render.h"
#include "model/grid_metrics.h"
#include "model/number_format.h"
#include "model/style_equality.h"
#include "model/style_interning.h"
#include "model/styles.h"
#include "model/workbook.h"
