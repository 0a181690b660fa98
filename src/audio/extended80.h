#pragma once
// The 80-bit extended floating-point number that AIFF files use for the sample rate: a sign bit,
// a 15-bit exponent biased by 16383 and a 64-bit mantissa with an explicit integer bit.
#include <cstdint>

namespace jx {

// The rate as a whole number, the fraction dropped; negative when the sign bit is set. The
// exponent counts modulo 32, so a field missing its 4000 hexadecimal bit reads the same. An
// exponent of 7FFF (infinity or not-a-number) and a zero number read as 0.
int32_t read_extended80(const uint8_t* ten_bytes);

// Writes a whole, positive rate exactly; a rate below 1 is written as zero.
void write_extended80(int32_t rate, uint8_t* ten_bytes);

}  // namespace jx
