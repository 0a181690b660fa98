#pragma once
// Floating-point sample values as integers: the value clamped to -1 up to just below 1, times
// 2^31, truncated toward zero. Not-a-number counts as silence.
#include <cmath>
#include <cstdint>

namespace jx {

inline int32_t float_sample(float f) {
    if (std::isnan(f)) return 0;
    if (f < -1.0f) f = -1.0f;
    if (f > 0.9999998807f) f = 0.99999988079071045f;  // 1 - 2^-23
    return static_cast<int32_t>(static_cast<double>(f) * 2147483648.0);
}

inline int32_t double_sample(double d) {
    if (std::isnan(d)) return 0;
    if (d < -1.0) d = -1.0;
    if (d > 0.9999998807) d = 0.9999998807;
    return static_cast<int32_t>(d * 2147483648.0);
}

}  // namespace jx
