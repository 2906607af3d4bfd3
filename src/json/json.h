// The public header of the JSON library: reading (reader.h, rules.h), the
// value forms (value.h) and compact output (writer.h).
#pragma once

#include "json/error.h"
#include "json/float_text.h"
#include "json/reader.h"
#include "json/rules.h"
#include "json/value.h"
#include "json/writer.h"
