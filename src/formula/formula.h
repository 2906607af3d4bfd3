// The formula library's public header: syntax tree, parsing, printing and
// the built-in function names.
#pragma once

#include "formula/error.h"
#include "formula/expr.h"
#include "formula/lexer.h"
#include "formula/parser.h"
#include "formula/printer.h"
#include "functions/builtin_names.h"
