#include "audio/transform.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <utility>

namespace jx {

namespace {

constexpr int32_t largest_max_length = 1 << 20;

bool is_power_of_two(int64_t n) {
    return n > 0 && (n & (n - 1)) == 0;
}

// cos and sin of 2π·k / n for 0 ≤ k < n, reduced to the first octant so that points that mirror
// each other get the same values and the axes get exact zeros and ones.
void unit_circle(int64_t k, int64_t n, double& c, double& s) {
    int64_t t = 8 * k;  // in eighths of 2π / n: the circle is 8n, the octant n
    double s_sign = 1, c_sign = 1;
    if (t > 4 * n) t = 8 * n - t, s_sign = -1;
    if (t > 2 * n) t = 4 * n - t, c_sign = -1;
    bool swapped = t > n;
    if (swapped) t = 2 * n - t;
    double angle = std::numbers::pi * static_cast<double>(t) / static_cast<double>(4 * n);
    double cs = std::cos(angle), sn = std::sin(angle);
    if (swapped) std::swap(cs, sn);
    c = c_sign * cs;
    s = s_sign * sn;
}

// e^(−2πi·k / circle) for 0 ≤ k < circle, from the half circle in the tables.
void circle_point(const FftTables& t, int64_t k, double& c, double& s) {
    int64_t half = t.circle / 2;
    if (k < half) {
        c = t.cos_table[k], s = t.sin_table[k];
    } else {
        c = -t.cos_table[k - half], s = -t.sin_table[k - half];
    }
}

// A radix-4 pass over sub-transforms of length 4m multiplies output k of butterfly p by W^kp
// (W = e^(−2πi / 4m)), k = 1, 2, 3, p = 0 … m−1. They are kept per m, at 6(m − 1): for each k a
// run of real parts and a run of imaginary parts, in the order the pass reads them.
void fill_factors(FftTables& t) {
    const int64_t largest_m = t.circle / 4;
    t.radix4_factors.resize(6 * (2 * largest_m - 1));
    for (int64_t m = 1; m <= largest_m; m *= 2) {
        double* f = &t.radix4_factors[6 * (m - 1)];
        const int64_t step = t.circle / (4 * m);
        for (int k = 1; k < 4; ++k)
            for (int64_t p = 0; p < m; ++p)
                circle_point(t, k * p * step, f[(2 * k - 2) * m + p], f[(2 * k - 1) * m + p]);
    }
}

const double* factors_for(const FftTables& t, size_t m) {
    return &t.radix4_factors[6 * (m - 1)];
}

#if defined(__GNUC__)
#define JX_INLINE inline __attribute__((always_inline))
// Runs of doubles that GCC and clang map onto the processor's vector registers.
typedef double double2 __attribute__((vector_size(16)));
typedef double double4 __attribute__((vector_size(32)));
#else
#define JX_INLINE inline
#endif

// The passes are written once over V, a single double or a run of them. Every value goes through
// the same operations in the same order whichever V computes it, so it is rounded the same.
template <class V>
constexpr size_t lanes = sizeof(V) / sizeof(double);

template <class V>
JX_INLINE void load(V& v, const double* p) {
    std::memcpy(&v, p, sizeof v);
}
template <class V>
JX_INLINE void store(double* p, const V& v) {
    std::memcpy(p, &v, sizeof v);
}
JX_INLINE void splat(double& v, double x) {
    v = x;
}
#if defined(__GNUC__)
JX_INLINE void splat(double2& v, double x) {
    v = double2{x, x};
}
JX_INLINE void splat(double4& v, double x) {
    v = double4{x, x, x, x};
}
#endif

// (ar + i·ai)(br + i·bi)
template <class V>
JX_INLINE void times(V& r, V& i, const V& ar, const V& ai, const V& br, const V& bi) {
    r = ar * br - ai * bi;
    i = ar * bi + ai * br;
}

// The four-point transform in place: z0 + z1 + z2 + z3, (z0 − z2) − i(z1 − z3),
// (z0 + z2) − (z1 + z3), (z0 − z2) + i(z1 − z3).
template <class V>
JX_INLINE void dft4(V& z0r, V& z0i, V& z1r, V& z1i, V& z2r, V& z2i, V& z3r, V& z3i) {
    V t0r = z0r + z2r, t0i = z0i + z2i, t1r = z0r - z2r, t1i = z0i - z2i;
    V t2r = z1r + z3r, t2i = z1i + z3i, t3r = z1r - z3r, t3i = z1i - z3i;
    z0r = t0r + t2r, z0i = t0i + t2i;
    z2r = t0r - t2r, z2i = t0i - t2i;
    z1r = t1r + t3i, z1i = t1i - t3r;
    z3r = t1r - t3i, z3i = t1i + t3r;
}

// The first pass writes output k of butterfly p at 4p + k.
JX_INLINE void store_interleaved(double* y, double a, double b, double c, double d) {
    y[0] = a, y[1] = b, y[2] = c, y[3] = d;
}
#if defined(__GNUC__)
JX_INLINE void store_interleaved(double* y, const double2& a, const double2& b, const double2& c,
                                 const double2& d) {
    store(y, __builtin_shufflevector(a, b, 0, 2));
    store(y + 2, __builtin_shufflevector(c, d, 0, 2));
    store(y + 4, __builtin_shufflevector(a, b, 1, 3));
    store(y + 6, __builtin_shufflevector(c, d, 1, 3));
}
JX_INLINE void store_interleaved(double* y, const double4& a, const double4& b, const double4& c,
                                 const double4& d) {
    double4 t0 = __builtin_shufflevector(a, b, 0, 4, 2, 6);
    double4 t1 = __builtin_shufflevector(a, b, 1, 5, 3, 7);
    double4 t2 = __builtin_shufflevector(c, d, 0, 4, 2, 6);
    double4 t3 = __builtin_shufflevector(c, d, 1, 5, 3, 7);
    store(y, __builtin_shufflevector(t0, t2, 0, 1, 4, 5));
    store(y + 4, __builtin_shufflevector(t1, t3, 0, 1, 4, 5));
    store(y + 8, __builtin_shufflevector(t0, t2, 2, 3, 6, 7));
    store(y + 12, __builtin_shufflevector(t1, t3, 2, 3, 6, 7));
}
#endif

// The first pass, radix 4 at stride 1: butterflies p … p + lanes − 1, whose factors differ from
// one to the next, with outputs interleaved.
template <class V>
JX_INLINE void first_pass_butterflies(const double* f, size_t m, size_t p, const double* xr,
                                      const double* xi, double* yr, double* yi) {
    V ar, ai, br, bi, cr, ci, dr, di, w1r, w1i, w2r, w2i, w3r, w3i;
    load(ar, xr + p), load(ai, xi + p), load(br, xr + p + m), load(bi, xi + p + m);
    load(cr, xr + p + 2 * m), load(ci, xi + p + 2 * m);
    load(dr, xr + p + 3 * m), load(di, xi + p + 3 * m);
    load(w1r, f + p), load(w1i, f + m + p), load(w2r, f + 2 * m + p);
    load(w2i, f + 3 * m + p), load(w3r, f + 4 * m + p), load(w3i, f + 5 * m + p);
    dft4(ar, ai, br, bi, cr, ci, dr, di);
    V y1r, y1i, y2r, y2i, y3r, y3i;
    times(y1r, y1i, br, bi, w1r, w1i);
    times(y2r, y2i, cr, ci, w2r, w2i);
    times(y3r, y3i, dr, di, w3r, w3i);
    store_interleaved(yr + 4 * p, ar, y1r, y2r, y3r);
    store_interleaved(yi + 4 * p, ai, y1i, y2i, y3i);
}

template <class V>
JX_INLINE void first_pass(const double* f, size_t m, const double* xr, const double* xi, double* yr,
                          double* yi) {
    size_t p = 0;
    for (; p + lanes<V> <= m; p += lanes<V>) first_pass_butterflies<V>(f, m, p, xr, xi, yr, yi);
    for (; p < m; ++p) first_pass_butterflies<double>(f, m, p, xr, xi, yr, yi);
}

// Later passes of the self-sorting (Stockham) transform: sub-transforms of length r·m at stride s
// become r of length m at stride r·s, from x into y. Every pass reads and writes runs of s
// values, so nothing is reordered by bit reversal. A butterfly reads z_j = x[j·s·m] and writes
// output k, times W^kp, to y[k·s].
template <class V, int radix>
struct Factors {
    V r[radix - 1], i[radix - 1];  // W^p … W^(radix−1)p; none when all are 1
};

template <class V, int radix, bool unit>
JX_INLINE void put(double* yr, double* yi, size_t s, int k, const V& r, const V& i,
                   const Factors<V, radix>& w) {
    if constexpr (unit) {
        store(yr + k * s, r), store(yi + k * s, i);
    } else {
        V pr, pi;
        times(pr, pi, r, i, w.r[k - 1], w.i[k - 1]);
        store(yr + k * s, pr), store(yi + k * s, pi);
    }
}

template <class V, int radix, bool unit>
JX_INLINE void butterfly(const double* xr, const double* xi, size_t span,
                         const Factors<V, radix>& w, double* yr, double* yi, size_t s) {
    if constexpr (radix == 2) {
        V ar, ai, br, bi;
        load(ar, xr), load(ai, xi), load(br, xr + span), load(bi, xi + span);
        store(yr, ar + br), store(yi, ai + bi);
        put<V, radix, unit>(yr, yi, s, 1, ar - br, ai - bi, w);
    } else {
        V ar, ai, br, bi, cr, ci, dr, di;
        load(ar, xr), load(ai, xi), load(br, xr + span), load(bi, xi + span);
        load(cr, xr + 2 * span), load(ci, xi + 2 * span);
        load(dr, xr + 3 * span), load(di, xi + 3 * span);
        dft4(ar, ai, br, bi, cr, ci, dr, di);
        store(yr, ar), store(yi, ai);
        put<V, radix, unit>(yr, yi, s, 1, br, bi, w);
        put<V, radix, unit>(yr, yi, s, 2, cr, ci, w);
        put<V, radix, unit>(yr, yi, s, 3, dr, di, w);
    }
}

// Butterflies q = 0 … s − 1 of one run, which share their factors.
template <class V, int radix, bool unit>
JX_INLINE void run(const double* xr, const double* xi, size_t span, const Factors<V, radix>& w,
                   const Factors<double, radix>& w1, double* yr, double* yi, size_t s) {
    size_t q = 0;
    for (; q + lanes<V> <= s; q += lanes<V>)
        butterfly<V, radix, unit>(xr + q, xi + q, span, w, yr + q, yi + q, s);
    for (; q < s; ++q) butterfly<double, radix, unit>(xr + q, xi + q, span, w1, yr + q, yi + q, s);
}

template <class V, int radix>
JX_INLINE void pass(const double* f, size_t m, size_t s, const double* xr, const double* xi,
                    double* yr, double* yi) {
    const size_t span = s * m;
    Factors<V, radix> w{};
    Factors<double, radix> w1{};
    run<V, radix, true>(xr, xi, span, w, w1, yr, yi, s);  // p = 0: every factor is 1
    for (size_t p = 1; p < m; ++p) {
        for (int k = 1; k < radix; ++k) {
            w1.r[k - 1] = f[(2 * k - 2) * m + p], w1.i[k - 1] = f[(2 * k - 1) * m + p];
            splat(w.r[k - 1], w1.r[k - 1]), splat(w.i[k - 1], w1.i[k - 1]);
        }
        run<V, radix, false>(xr + s * p, xi + s * p, span, w, w1, yr + radix * s * p,
                             yi + radix * s * p, s);
    }
}

// Passes of odd prime radices up to this one cost less than the chirp-z method on what they
// take off.
constexpr int32_t largest_odd_radix = 61;

// A butterfly of a pass of odd radix r (known when compiling for 3 and 5, so that the loops
// unroll; 0 for the others). Outputs k and r − k share p = z0 + sum of (z_j + z_(r−j))·cos(2π·jk/r)
// and differ in the sign of q = sum of (z_j − z_(r−j))·sin(2π·jk/r): p − i·q and p + i·q, each
// then multiplied by W^kp. The cosines and sines of 2π·k/r follow the pass's factors.
template <class V, int32_t fixed_radix>
JX_INLINE void odd_butterfly(const double* xr, const double* xi, size_t span, const double* f,
                             int32_t radix, size_t m, size_t p, double* yr, double* yi, size_t s) {
    constexpr int32_t most = (fixed_radix != 0 ? fixed_radix : largest_odd_radix) / 2;
    if constexpr (fixed_radix != 0) radix = fixed_radix;
    const int32_t half = radix / 2;
    const double* roots = f + 2 * (radix - 1) * m;
    V z0r, z0i, ar[most], ai[most], br[most], bi[most];
    load(z0r, xr), load(z0i, xi);
    V sum_r = z0r, sum_i = z0i;
    for (int32_t j = 1; j <= half; ++j) {
        V ur, ui, vr, vi;
        load(ur, xr + j * span), load(ui, xi + j * span);
        load(vr, xr + (radix - j) * span), load(vi, xi + (radix - j) * span);
        ar[j - 1] = ur + vr, ai[j - 1] = ui + vi, br[j - 1] = ur - vr, bi[j - 1] = ui - vi;
        sum_r = sum_r + ar[j - 1], sum_i = sum_i + ai[j - 1];
    }
    store(yr, sum_r), store(yi, sum_i);
    auto put_output = [&](int32_t k, const V& r, const V& i) {
        if (p == 0) {
            store(yr + k * s, r), store(yi + k * s, i);
            return;
        }
        V wr, wi, tr, ti;
        splat(wr, f[(2 * k - 2) * m + p]), splat(wi, f[(2 * k - 1) * m + p]);
        times(tr, ti, r, i, wr, wi);
        store(yr + k * s, tr), store(yi + k * s, ti);
    };
    for (int32_t k = 1; k <= half; ++k) {
        V pr = z0r, pi = z0i, qr{}, qi{};
        for (int32_t j = 1, jk = k; j <= half; ++j) {  // jk = j·k modulo r
            const double c = roots[jk], sn = roots[radix + jk];
            pr = pr + c * ar[j - 1], pi = pi + c * ai[j - 1];
            qr = qr + sn * br[j - 1], qi = qi + sn * bi[j - 1];
            jk += k;
            if (jk >= radix) jk -= radix;
        }
        put_output(k, pr + qi, pi - qr);
        put_output(radix - k, pr - qi, pi + qr);
    }
}

template <class V, int32_t fixed_radix>
JX_INLINE void odd_pass(const double* f, int32_t radix, size_t m, size_t s, const double* xr,
                        const double* xi, double* yr, double* yi) {
    const size_t span = s * m;
    for (size_t p = 0; p < m; ++p) {
        const double *x_r = xr + s * p, *x_i = xi + s * p;
        double *y_r = yr + radix * s * p, *y_i = yi + radix * s * p;
        size_t q = 0;
        for (; q + lanes<V> <= s; q += lanes<V>)
            odd_butterfly<V, fixed_radix>(x_r + q, x_i + q, span, f, radix, m, p, y_r + q, y_i + q,
                                          s);
        for (; q < s; ++q)
            odd_butterfly<double, fixed_radix>(x_r + q, x_i + q, span, f, radix, m, p, y_r + q,
                                               y_i + q, s);
    }
}

// The forward transform of x, natural order in and out, with y as the other buffer of the
// passes; true when the result ends in y. Passes of radix 4, and a last pass of radix 2 for odd
// powers of two. With a stride s > 1, x holds s interleaved transforms of n / s points each.
template <class V>
JX_INLINE bool transform_passes(const FftTables& t, double* xr, double* xi, double* yr, double* yi,
                                size_t n, size_t s = 1) {
    double *ar = xr, *ai = xi, *br = yr, *bi = yi;
    bool in_y = false;
    auto swap_buffers = [&] {
        std::swap(ar, br), std::swap(ai, bi);
        in_y = !in_y;
    };
    if (s == 1 && n >= 4) {
        first_pass<V>(factors_for(t, n / 4), n / 4, ar, ai, br, bi);
        swap_buffers();
        s = 4;
    }
    for (; n / s >= 4; s *= 4) {
        size_t m = n / (4 * s);
        pass<V, 4>(factors_for(t, m), m, s, ar, ai, br, bi);
        swap_buffers();
    }
    if (n / s == 2) {
        pass<V, 2>(nullptr, 1, s, ar, ai, br, bi);
        swap_buffers();
    }
    return in_y;
}

// The forward transform of x in place, with y as the other buffer.
template <class V>
JX_INLINE void forward_in_place(const FftTables& t, double* xr, double* xi, double* yr, double* yi,
                                size_t n) {
    if (n >= 2 && transform_passes<V>(t, xr, xi, yr, yi, n)) {
        std::memcpy(xr, yr, n * sizeof(double));
        std::memcpy(xi, yi, n * sizeof(double));
    }
}

// y[j] = a[j]·b[j] for j < n; y may be a.
template <class V>
JX_INLINE void multiply_run(const double* ar, const double* ai, const double* br, const double* bi,
                            double* yr, double* yi) {
    V a_r, a_i, b_r, b_i, r, i;
    load(a_r, ar), load(a_i, ai), load(b_r, br), load(b_i, bi);
    times(r, i, a_r, a_i, b_r, b_i);
    store(yr, r), store(yi, i);
}
template <class V>
JX_INLINE void multiply(size_t n, const double* ar, const double* ai, const double* br,
                        const double* bi, double* yr, double* yi) {
    size_t j = 0;
    for (; j + lanes<V> <= n; j += lanes<V>)
        multiply_run<V>(ar + j, ai + j, br + j, bi + j, yr + j, yi + j);
    for (; j < n; ++j) multiply_run<double>(ar + j, ai + j, br + j, bi + j, yr + j, yi + j);
}

size_t power_of_two_from(size_t n) {
    size_t m = 1;
    while (m < n) m *= 2;
    return m;
}

// Factors W^kp, W = e^(−2πi / (radix·m)), of a pass over sub-transforms of radix·m points, laid
// out as for the radix-4 passes, then cos and sin of 2π·k / radix, which the odd passes use.
size_t factors_size(int32_t radix, size_t m) {
    return 2 * (radix - 1) * m + 2 * radix;
}
void append_factors(std::vector<double>& f, int32_t radix, int64_t m) {
    size_t at = f.size();
    f.resize(at + factors_size(radix, m));
    double c, s;
    for (int64_t k = 1; k < radix; ++k)
        for (int64_t p = 0; p < m; ++p) {
            unit_circle(k * p, radix * m, c, s);
            f[at + (2 * k - 2) * m + p] = c, f[at + (2 * k - 1) * m + p] = -s;
        }
    double* roots = &f[at + 2 * (radix - 1) * m];
    for (int32_t k = 0; k < radix; ++k) {
        unit_circle(k, radix, c, s);
        roots[k] = c, roots[radix + k] = s;
    }
}

// Repeats each of the first count values of v stride times in a row, from the top down so that
// no value is overwritten before it is copied.
void spread(std::vector<double>& v, size_t count, size_t stride) {
    for (size_t k = count; stride > 1 && k-- > 0;) {
        const double x = v[k];
        std::fill_n(&v[k * stride], stride, x);
    }
}

// The chirp-z part of the plan: R points at stride S, convolved by transforms of m points.
template <class V>
JX_INLINE void make_chirp_plan(FftTables& t) {
    const int64_t rest = t.chirp_length;
    const size_t stride = static_cast<size_t>(t.chirp_stride);
    const size_t m = static_cast<size_t>(t.chirp_transform_length);
    t.chirp_re.resize(rest * stride);
    t.chirp_im.resize(rest * stride);
    t.chirp_spectrum_re.assign(m * stride, 0.0);
    t.chirp_spectrum_im.assign(m * stride, 0.0);
    double *wr = t.chirp_spectrum_re.data(), *wi = t.chirp_spectrum_im.data();
    const double scale = 1.0 / static_cast<double>(m);
    for (int64_t j = 0; j < rest; ++j) {
        // j² is taken modulo 2R before it becomes an angle, so that long chirps stay exact.
        double c, s;
        unit_circle(j * j % (2 * rest), 2 * rest, c, s);
        t.chirp_re[j] = c, t.chirp_im[j] = -s;
        // The conjugate chirp at lags −(R−1) … R−1, wrapped around the transform, scaled by 1/m
        // so that the inverse transform after the product needs no scaling of its own.
        wr[j] = c * scale, wi[j] = s * scale;
        if (j > 0) wr[m - j] = wr[j], wi[m - j] = wi[j];
    }
    forward_in_place<V>(t, wr, wi, t.scratch_re.data(), t.scratch_im.data(), m);
    for (std::vector<double>* v : {&t.chirp_re, &t.chirp_im}) spread(*v, rest, stride);
    for (std::vector<double>* v : {&t.chirp_spectrum_re, &t.chirp_spectrum_im})
        spread(*v, m, stride);
}

template <class V>
JX_INLINE void make_plan(FftTables& t, int32_t n) {
    t.plan_radices.clear();
    t.plan_factors.clear();
    int32_t rest = n;
    auto take = [&](int32_t radix) {
        while (rest % radix == 0) t.plan_radices.push_back(radix), rest /= radix;
    };
    take(4), take(2);
    // Odd radices that are not prime divide nothing that is left by the time they are tried.
    for (int32_t radix = 3; radix <= largest_odd_radix; radix += 2) take(radix);
    size_t stride = static_cast<size_t>(n / rest);
    size_t m = power_of_two_from(2 * static_cast<size_t>(rest) - 1);
    const size_t whole = power_of_two_from(2 * static_cast<size_t>(n) - 1);
    if (stride * m > whole) {
        t.plan_radices.clear();
        rest = n, stride = 1, m = whole;
    }
    int64_t s = 1;
    for (int32_t radix : t.plan_radices) {
        append_factors(t.plan_factors, radix, n / (radix * s));
        s *= radix;
    }
    t.plan_length = n;
    t.chirp_length = rest;
    t.chirp_stride = static_cast<int32_t>(stride);
    t.chirp_transform_length = static_cast<int32_t>(m);
    if (rest > 1) make_chirp_plan<V>(t);
}

// For each of the S transforms interleaved in x: X[k] = c[k] · sum of (x[j]·c[j]) · conj(c[k − j])
// with c[j] = e^(−iπ·j²/R), a convolution done by power-of-two transforms. The result goes to y.
template <class V>
JX_INLINE void chirp_z(FftTables& t, const double* xr, const double* xi, double* yr, double* yi) {
    const size_t stride = static_cast<size_t>(t.chirp_stride);
    const size_t n = static_cast<size_t>(t.chirp_length) * stride;
    const size_t m = static_cast<size_t>(t.chirp_transform_length) * stride;
    double *wr = t.work_re.data(), *wi = t.work_im.data();
    double *sr = t.scratch_re.data(), *si = t.scratch_im.data();
    multiply<V>(n, xr, xi, t.chirp_re.data(), t.chirp_im.data(), wr, wi);
    std::fill(wr + n, wr + m, 0.0);
    std::fill(wi + n, wi + m, 0.0);
    if (transform_passes<V>(t, wr, wi, sr, si, m, stride)) std::swap(wr, sr), std::swap(wi, si);
    multiply<V>(m, wr, wi, t.chirp_spectrum_re.data(), t.chirp_spectrum_im.data(), wr, wi);
    // The inverse as a forward transform with real and imaginary parts exchanged.
    if (transform_passes<V>(t, wi, wr, si, sr, m, stride)) std::swap(wr, sr), std::swap(wi, si);
    multiply<V>(n, wr, wi, t.chirp_re.data(), t.chirp_im.data(), yr, yi);
}

// A length that is not a power of two, in place: the passes of the plan, then the chirp-z part.
template <class V>
JX_INLINE void any_length_transform(FftTables& t, double* xr, double* xi, int32_t n) {
    if (t.plan_length != n) make_plan<V>(t, n);
    double *ar = xr, *ai = xi, *br = t.scratch_re.data(), *bi = t.scratch_im.data();
    const double* f = t.plan_factors.data();
    size_t s = 1;
    for (int32_t radix : t.plan_radices) {
        size_t m = static_cast<size_t>(n) / (radix * s);
        if (radix == 4 && s == 1)
            first_pass<V>(f, m, ar, ai, br, bi);
        else if (radix == 4)
            pass<V, 4>(f, m, s, ar, ai, br, bi);
        else if (radix == 2)
            pass<V, 2>(f, m, s, ar, ai, br, bi);
        else if (radix == 5)
            odd_pass<V, 5>(f, radix, m, s, ar, ai, br, bi);
        else if (radix == 3)
            odd_pass<V, 3>(f, radix, m, s, ar, ai, br, bi);
        else
            odd_pass<V, 0>(f, radix, m, s, ar, ai, br, bi);
        f += factors_size(radix, m);
        s *= radix;
        std::swap(ar, br), std::swap(ai, bi);
    }
    if (t.chirp_length > 1) {
        chirp_z<V>(t, ar, ai, xr, xi);
    } else if (ar != xr) {
        std::memcpy(xr, ar, n * sizeof(double));
        std::memcpy(xi, ai, n * sizeof(double));
    }
}

// The inverse is the forward transform of the same numbers with real and imaginary parts
// exchanged, exchanged back and divided by n.
template <class V>
JX_INLINE void transform(FftTables& t, double* re, double* im, int32_t n, int32_t direction) {
    bool inverse = direction == fft_inverse;
    double *a = re, *b = im, *sa = t.scratch_re.data(), *sb = t.scratch_im.data();
    if (inverse) std::swap(a, b), std::swap(sa, sb);
    if (is_power_of_two(n))
        forward_in_place<V>(t, a, b, sa, sb, n);
    else
        any_length_transform<V>(t, a, b, n);
    if (inverse) {
        double scale = 1.0 / n;
        for (int32_t k = 0; k < n; ++k) re[k] *= scale, im[k] *= scale;
    }
}

#if defined(__GNUC__)
void transform_plain(FftTables& t, double* re, double* im, int32_t n, int32_t direction) {
    transform<double2>(t, re, im, n, direction);
}
#else
void transform_plain(FftTables& t, double* re, double* im, int32_t n, int32_t direction) {
    transform<double>(t, re, im, n, direction);
}
#endif

#if defined(__GNUC__) && defined(__x86_64__)
// The same in 256-bit vectors where the processor has them. Without fused multiply-add every
// value is rounded exactly as in the plain code, so results do not depend on the machine.
__attribute__((target("avx2"))) void transform_wide(FftTables& t, double* re, double* im, int32_t n,
                                                    int32_t direction) {
    transform<double4>(t, re, im, n, direction);
}

bool has_wide_vectors() {
    return __builtin_cpu_supports("avx2");
}
#else
void transform_wide(FftTables& t, double* re, double* im, int32_t n, int32_t direction) {
    transform_plain(t, re, im, n, direction);
}

bool has_wide_vectors() {
    return false;
}
#endif

}  // namespace

int fft_init(FftTables& tables, int32_t max_length, int32_t flags) {
    bool any_length = (flags & fft_flag::any_length) != 0;
    if (max_length < 1 || max_length > largest_max_length) return 3;
    if (!is_power_of_two(max_length) && !any_length) return 3;
    tables = FftTables{};
    int64_t largest = 2;
    while (largest < max_length) largest *= 2;
    // The chirp-z convolution of a length up to max_length takes twice the largest power of two.
    int64_t circle = 2 * largest;
    int64_t half = circle / 2;
    tables.max_length = max_length;
    tables.any_length = any_length;
    tables.circle = static_cast<int32_t>(circle);
    tables.cos_table.resize(half);
    tables.sin_table.resize(half);
    for (int64_t k = 0; k < half; ++k) {
        double c, s;
        unit_circle(k, circle, c, s);
        tables.cos_table[k] = c, tables.sin_table[k] = -s;
    }
    fill_factors(tables);
    tables.work_re.resize(circle);
    tables.work_im.resize(circle);
    tables.scratch_re.resize(circle);
    tables.scratch_im.resize(circle);
    tables.wide_vectors = has_wide_vectors();
    return 0;
}

int fft(FftTables& tables, double* re, double* im, int32_t n, int32_t direction) {
    if (n < 0 || n > tables.max_length) return 2;
    if (n > 1 && !is_power_of_two(n) && !tables.any_length) return 3;
    if (n <= 1) return 0;
    if (tables.wide_vectors)
        transform_wide(tables, re, im, n, direction);
    else
        transform_plain(tables, re, im, n, direction);
    return 0;
}

}  // namespace jx
