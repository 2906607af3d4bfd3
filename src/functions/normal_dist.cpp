// NORM.DIST, and the complementary error function under its cumulative form:
// W. J. Cody's rational Chebyshev approximations, with his coefficients.
#include <cmath>

#include "formula/value_coercion.h"
#include "functions/handlers.h"
#include "functions/normal_dist.h"
#include "functions/numeric_args.h"

namespace cmx::formula {

using model::CellErrorCode;
using model::CellValue;

double erfc(double t) {
  const double a = std::fabs(t);
  if (a <= 0.46875) {
    const double s = t * t;
    const double num =
        (((0.18577770618460315 * s + 3.1611237438705655) * s + 113.86415415105016) * s +
         377.485237685302) * s +
        3209.3775891384694;
    const double den =
        (((s + 23.60129095234412) * s + 244.02463793444417) * s + 1282.6165260773723) * s +
        2844.236833439171;
    return 1 - t * num / den;
  }
  double result = 0;
  if (a < 26.543) {
    // exp(−a²) from two factors, keeping the bits a² would lose.
    const double y = std::trunc(16 * a) * 0.0625;
    const double del = (a - y) * (a + y);
    const double factor = std::exp(-y * y) * std::exp(-del);
    if (a <= 4) {
      static constexpr double kNum[] = {0.5641884969886701, 8.883149794388377,
                                        66.11919063714163,  298.6351381974001,
                                        881.952221241769,   1712.0476126340707,
                                        2051.0783778260716, 1230.3393547979972};
      static constexpr double kDen[] = {15.744926110709835, 117.6939508913125,
                                        537.1811018620099,  1621.3895745666903,
                                        3290.7992357334597, 4362.619090143247,
                                        3439.3676741437216, 1230.3393548037493};
      double num = 2.1531153547440383e-8 * a;
      double den = a;
      for (int i = 0; i < 7; ++i) {
        num = (num + kNum[i]) * a;
        den = (den + kDen[i]) * a;
      }
      result = factor * (num + kNum[7]) / (den + kDen[7]);
    } else {
      static constexpr double kNum[] = {0.30532663496123236, 0.36034489994980445,
                                        0.12578172611122926, 0.01608378514874228,
                                        0.0006587491615298378};
      static constexpr double kDen[] = {2.568520192289822, 1.8729528499234604,
                                        0.5279051029514285, 0.06051834131244132,
                                        0.0023352049762686918};
      const double w = 1 / (t * t);
      double num = 0.016315387137302097 * w;
      double den = w;
      for (int i = 0; i < 4; ++i) {
        num = (num + kNum[i]) * w;
        den = (den + kDen[i]) * w;
      }
      num += kNum[4];
      den += kDen[4];
      result = factor * (0.5641895835477563 - w * num / den) / a;
    }
  }
  return t < 0 ? 2 - result : result;
}

void fn_norm_dist(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() != 4) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  // All three are evaluated before any error is looked at.
  auto x = arg_number(args, 0, ctx);
  auto mean_and_sd = arg_number_pair(args, 1, ctx);
  if (!x.has_value()) {
    out = CellValue::error(x.error());
    return;
  }
  if (!mean_and_sd.has_value()) {
    out = CellValue::error(mean_and_sd.error());
    return;
  }
  auto cumulative = value_to_bool(eval_scalar(*args[3], ctx));
  if (!cumulative.has_value()) {
    out = CellValue::error(cumulative.error());
    return;
  }
  const auto [mean, sd] = *mean_and_sd;
  if (!(sd > 0)) {
    out = CellValue::error(CellErrorCode::Num);
    return;
  }
  const double z = (x.value() - mean) / sd;
  out = number_result(*cumulative ? 0.5 * erfc(z * -0.7071067811865476)
                                  : std::exp(-0.5 * z * z) / (sd * 2.5066282746310002));
}

}  // namespace cmx::formula
