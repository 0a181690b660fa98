#include "audio/transform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

#ifdef JX_HAVE_FFTW
#include <fftw3.h>
#endif

namespace jx {
namespace {

FftTables start_up_tables() {
    FftTables tables;
    EXPECT_EQ(fft_init(tables, 16384, fft_flag::any_length), 0);
    return tables;
}

TEST(FftInit, RefusesLengthsItCannotServe) {
    struct Case {
        int32_t max_length, flags, expected;
    } cases[] = {
        {16384, fft_flag::any_length, 0},
        {16384, 0, 0},
        {1, 0, 0},
        {1000, fft_flag::any_length, 0},
        {1000, 0, 3},
        {0, fft_flag::any_length, 3},
        {-4, 0, 3},
    };
    for (const Case& c : cases) {
        FftTables tables;
        EXPECT_EQ(fft_init(tables, c.max_length, c.flags), c.expected)
            << c.max_length << " with flags " << c.flags;
    }
}

TEST(Fft, RefusesLengthsOutsideTheTables) {
    std::vector<double> re(2048, 1.0), im(2048, 0.0);
    FftTables powers;
    ASSERT_EQ(fft_init(powers, 1024, 0), 0);
    EXPECT_EQ(fft(powers, re.data(), im.data(), 2048, fft_forward), 2);
    EXPECT_EQ(fft(powers, re.data(), im.data(), -1, fft_forward), 2);
    EXPECT_EQ(fft(powers, re.data(), im.data(), 1000, fft_forward), 3);
    EXPECT_EQ(re[0], 1.0) << "a refused call leaves the data alone";

    FftTables any;
    ASSERT_EQ(fft_init(any, 1000, fft_flag::any_length), 0);
    EXPECT_EQ(fft(any, re.data(), im.data(), 1024, fft_forward), 2);
    EXPECT_EQ(fft(any, re.data(), im.data(), 1000, fft_forward), 0);

    FftTables never_built;
    EXPECT_EQ(fft(never_built, re.data(), im.data(), 4, fft_forward), 2);
}

// A tone of whole cycles transforms to one bin of height n, and back: this fixes the sign of the
// exponent and the scaling of each direction for both methods.
TEST(Fft, ToneBecomesOneBinAndBack) {
    FftTables tables = start_up_tables();
    for (int32_t n : {8, 12, 1000, 1024}) {
        const int32_t bin = 3;
        std::vector<double> re(n), im(n);
        for (int32_t j = 0; j < n; ++j) {
            double a = 2 * std::numbers::pi * bin * j / n;
            re[j] = std::cos(a), im[j] = std::sin(a);
        }
        std::vector<double> x_re = re, x_im = im;
        ASSERT_EQ(fft(tables, re.data(), im.data(), n, fft_forward), 0);
        for (int32_t k = 0; k < n; ++k) {
            EXPECT_NEAR(re[k], k == bin ? n : 0.0, 1e-11) << "n " << n << " bin " << k;
            EXPECT_NEAR(im[k], 0.0, 1e-11) << "n " << n << " bin " << k;
        }
        ASSERT_EQ(fft(tables, re.data(), im.data(), n, fft_inverse), 0);
        for (int32_t j = 0; j < n; ++j) {
            EXPECT_NEAR(re[j], x_re[j], 1e-14) << "n " << n << " at " << j;
            EXPECT_NEAR(im[j], x_im[j], 1e-14) << "n " << n << " at " << j;
        }
    }
}

#ifdef JX_HAVE_FFTW

// Every path: every length up to 64 (radix 2 alone, radix 4, passes of every odd prime radix up
// to 61 alone and mixed with those, short chirp-z lengths), the powers of two, longer mixtures of
// passes (odd ones among them, and the largest radices on long lengths), the chirp-z method after
// passes (2062 = 2·1031, 8576 = 128·67), primes, and the longest lengths the chirp-z method takes
// whole.
std::vector<int32_t> compared_lengths() {
    std::vector<int32_t> lengths;
    for (int32_t n = 1; n <= 64; ++n) lengths.push_back(n);
    for (int32_t n = 128; n <= 16384; n *= 2) lengths.push_back(n);
    for (int32_t n : {96, 375, 1000, 1536, 3375, 6000, 7168, 10000, 10816, 15616, 15625, 16200})
        lengths.push_back(n);
    for (int32_t n : {2062, 8576}) lengths.push_back(n);
    for (int32_t n : {67, 127, 257, 521, 1031, 4099, 8191, 12289, 16381, 16383})
        lengths.push_back(n);
    return lengths;
}

// Both ways through the code, the 256-bit vectors of newer processors and the plain ones, are
// compared with FFTW; they must also agree with each other to the last bit.
TEST(Fft, MatchesFftwInBothDirections) {
    FftTables tables = start_up_tables();
    const bool machine_has_wide = tables.wide_vectors;
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    for (int32_t n : compared_lengths()) {
        for (int32_t direction : {fft_forward, fft_inverse}) {
            std::vector<double> x_re(n), x_im(n);
            fftw_complex* io = fftw_alloc_complex(n);
            for (int32_t j = 0; j < n; ++j) {
                x_re[j] = io[j][0] = value(rng);
                x_im[j] = io[j][1] = value(rng);
            }
            fftw_plan plan = fftw_plan_dft_1d(
                n, io, io, direction == fft_forward ? FFTW_FORWARD : FFTW_BACKWARD, FFTW_ESTIMATE);
            fftw_execute(plan);
            fftw_destroy_plan(plan);

            std::vector<double> results[2];
            for (bool wide : {false, true}) {
                if (wide && !machine_has_wide) continue;
                tables.wide_vectors = wide;
                std::vector<double> re = x_re, im = x_im;
                ASSERT_EQ(fft(tables, re.data(), im.data(), n, direction), 0);
                // FFTW's inverse is not divided by n. Errors are measured against the size of the
                // result, whose bins grow with √n for these inputs.
                double scale = direction == fft_inverse ? 1.0 / n : 1.0;
                double worst = 0, energy = 0;
                for (int32_t k = 0; k < n; ++k) {
                    std::complex<double> expected(io[k][0] * scale, io[k][1] * scale);
                    worst =
                        std::max(worst, std::abs(std::complex<double>(re[k], im[k]) - expected));
                    energy += std::norm(expected);
                }
                double rms = std::sqrt(energy / n);
                EXPECT_LE(worst, 2e-15 * rms * std::log2(2.0 * n))
                    << "n " << n << (direction == fft_forward ? " forward" : " inverse")
                    << (wide ? " wide" : " plain");
                results[wide] = re;
                results[wide].insert(results[wide].end(), im.begin(), im.end());
            }
            if (machine_has_wide) {
                EXPECT_EQ(results[0], results[1]) << "n " << n;
            }
            fftw_free(io);
        }
    }
    fftw_cleanup();
}

#endif

}  // namespace
}  // namespace jx
