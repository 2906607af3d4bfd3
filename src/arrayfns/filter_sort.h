// FILTER, SORT, SORTBY and UNIQUE, and the small ordering operations other
// array functions and the statistics share.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "arrayfns/frame.h"

namespace cmx::formula {

// 0, 1, ..., n - 1 and n - 1, ..., 0.
std::vector<uint64_t> indices_ascending(uint64_t n);
std::vector<uint64_t> indices_descending(uint64_t n);
// Ascending by the IEEE 754 total order (-0 before +0), equal values kept in
// their order.
void insertion_sort_numbers(std::span<double> values);

// How two sort keys order: an Empty key after every other, in either
// direction; otherwise the value order, inverted when descending.
int compare_sort_keys(const model::CellValue& a, const model::CellValue& b, bool descending);
// The part one value adds to a distinct-values key. Texts carry their byte
// length, so no text can imitate the end of a part and the next one.
void append_distinct_key_part(std::string& key, const model::CellValue& value);

void array_fn_filter(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_sort(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_sortby(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_unique(EvalResult& out, Args args, EvalContext& ctx);

}  // namespace cmx::formula
