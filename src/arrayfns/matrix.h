// LINEST and TREND over one least-squares solver, MMULT and FREQUENCY.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "arrayfns/frame.h"

namespace cmx::formula {

struct LinearFit {
  std::vector<double> coefficients;     // in variable order
  std::vector<double> coefficient_se;   // in variable order
  double intercept = 0;                 // 0 without a constant
  double intercept_se = 0;              // 0 without a constant
  double r2 = 0;
  double se_y = 0;
  double f_stat = 0;
  double degrees_of_freedom = 0;
  double ss_regression = 0;
  double ss_residual = 0;
};

// Least squares by Householder reflections on the design matrix (never the
// normal equations). n × d² / 16 cells are charged before anything is
// allocated. "#NUM!" for no observations or variables, ragged variables, no
// more observations than parameters, or a pivot below 1e-12.
Result<LinearFit, model::CellErrorCode> least_squares_solve(
    EvalContext& ctx, std::span<const double> y, std::span<const std::vector<double>> variables,
    bool constant);

void array_fn_linest(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_trend(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_mmult(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_frequency(EvalResult& out, Args args, EvalContext& ctx);

}  // namespace cmx::formula
