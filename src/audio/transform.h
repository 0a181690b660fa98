#pragma once
// The discrete Fourier transform over split real and imaginary arrays, in place, in double
// precision. Powers of two run on tables of the unit circle built once at start-up. Other lengths
// run passes of radix 4, 2 and of odd primes up to 61 over the part of the length made of those
// factors, and the chirp-z method, on power-of-two transforms of the same tables, over the rest.
#include <cstdint>
#include <vector>

namespace jx {

// Flags of fft_init.
namespace fft_flag {
constexpr int32_t any_length = 2;  // also lengths that are not powers of two
}

// Directions of fft.
constexpr int32_t fft_forward = 0;  // X[k] = sum of x[j]·e^(−2πi·jk/n)
constexpr int32_t fft_inverse = 1;  // x[j] = (1/n)·sum of X[k]·e^(+2πi·jk/n)

// Made once by fft_init and handed to every fft. Besides the circle it keeps the plan of the last
// length that is not a power of two, so it belongs to one thread at a time.
struct FftTables {
    int32_t max_length = 0;   // 0 until fft_init succeeded
    bool any_length = false;  // fft_flag::any_length was given
    int32_t circle = 0;       // points on the circle: twice the largest power-of-two transform
    std::vector<double> cos_table;  // cos(−2π·k / circle), k = 0 … circle/2 − 1
    std::vector<double> sin_table;  // sin(−2π·k / circle), k = 0 … circle/2 − 1
    // The factors of every radix-4 pass, taken from the tables above and laid out in the order
    // a pass reads them.
    std::vector<double> radix4_factors;
    bool wide_vectors = false;  // the processor runs the passes in 256-bit vectors

    // Plan of the last length n that is not a power of two, n = S·R: passes of radix 4, 2 and of
    // odd primes up to 61 turn it into S interleaved transforms of R points, which the chirp-z
    // method finishes when R > 1. When that convolution would be longer than the chirp-z method
    // on all n points, S is 1.
    int32_t plan_length = 0;
    std::vector<int32_t> plan_radices;  // in the order the passes run
    // For each pass in turn its factors, laid out as above, then cos and sin of 2π·k / radix.
    std::vector<double> plan_factors;
    // The chirp-z part: e^(−iπ·j²/R) for j < R, and the transform of its conjugate at lags
    // −(R−1) … R−1, pre-scaled for the inverse transform; each value repeated S times in a row,
    // for the S interleaved transforms.
    int32_t chirp_length = 0;            // R
    int32_t chirp_stride = 0;            // S
    int32_t chirp_transform_length = 0;  // points of the convolution's transforms
    std::vector<double> chirp_re, chirp_im;
    std::vector<double> chirp_spectrum_re, chirp_spectrum_im;
    // The convolution, and the second buffer that the self-sorting passes write into.
    std::vector<double> work_re, work_im;
    std::vector<double> scratch_re, scratch_im;
};

// Builds the tables for transforms of up to max_length points → 0; 3 when max_length is not a
// power of two and flags lack fft_flag::any_length, or when it lies outside 1 … 2^20. Building
// again replaces the old tables.
int fft_init(FftTables& tables, int32_t max_length, int32_t flags);

// Transforms re[0 … n−1], im[0 … n−1] in place → 0; 2 when n exceeds the maximum length (or is
// negative); 3 when n is not a power of two and fft_init did not allow such lengths.
int fft(FftTables& tables, double* re, double* im, int32_t n, int32_t direction);

}  // namespace jx
