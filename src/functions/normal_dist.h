// The complementary error function behind NORM.DIST's cumulative form.
#pragma once

namespace cmx::formula {

// 1 − erf(t), to within a relative 1e-15 where the result is normal; exactly
// 0 from t = 26.543 on and exactly 2 from t = −26.543 down.
double erfc(double t);

}  // namespace cmx::formula
