#include "audio/waveform_synthesis.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/midi/sysex.h"

namespace jx {

namespace {

// The gain curve is known at every 64th index and at the last; the values between come from a
// monotone cubic (Fritsch-Carlson slopes, weighted harmonic means of the neighbouring secants),
// which cannot overshoot, rounded to six decimals.
constexpr int gain_knots = 17;
constexpr int gain_knot_index[gain_knots] = {0,   64,  128, 192, 256, 320, 384, 448, 512,
                                             576, 640, 704, 768, 832, 896, 960, 1023};
constexpr double gain_knot_value[gain_knots] = {
    0.866444, 0.873608, 0.895491, 0.933306, 0.98921,  1.066533, 1.170145, 1.307031, 1.487171,
    1.724913, 2.041122, 2.466638, 3.047923, 3.856568, 5.005748, 6.679657, 9.14025};

constexpr double round_to_six_decimals(double v) {
    return static_cast<double>(static_cast<int64_t>(v * 1e6 + 0.5)) / 1e6;  // v > 0
}

constexpr std::array<double, 1024> make_gain_curve() {
    double secant[gain_knots - 1] = {};
    double width[gain_knots - 1] = {};
    for (int i = 0; i + 1 < gain_knots; ++i) {
        width[i] = gain_knot_index[i + 1] - gain_knot_index[i];
        secant[i] = (gain_knot_value[i + 1] - gain_knot_value[i]) / width[i];
    }
    double slope[gain_knots] = {};
    slope[0] = secant[0];
    slope[gain_knots - 1] = secant[gain_knots - 2];
    for (int i = 1; i + 1 < gain_knots; ++i) {
        double w1 = 2 * width[i] + width[i - 1], w2 = width[i] + 2 * width[i - 1];
        slope[i] = (w1 + w2) / (w1 / secant[i - 1] + w2 / secant[i]);
    }
    std::array<double, 1024> g = {};
    for (int i = 0; i + 1 < gain_knots; ++i) {
        for (int k = gain_knot_index[i]; k < gain_knot_index[i + 1]; ++k) {
            double t = (k - gain_knot_index[i]) / width[i], t2 = t * t, t3 = t2 * t;
            double v = (2 * t3 - 3 * t2 + 1) * gain_knot_value[i] +
                       (t3 - 2 * t2 + t) * width[i] * slope[i] +
                       (3 * t2 - 2 * t3) * gain_knot_value[i + 1] +
                       (t3 - t2) * width[i] * slope[i + 1];
            g[k] = round_to_six_decimals(v);
        }
    }
    g[1023] = gain_knot_value[gain_knots - 1];
    return g;
}

// A table value as a 16-bit word: times 32767, truncated toward zero. The normalisation keeps
// the values well inside ±1, since no bin is weighted more than by the largest gain it divides by.
uint16_t table_word(double value) {
    return static_cast<uint16_t>(static_cast<int32_t>(value * 32767.0));
}

}  // namespace

constexpr std::array<double, 1024> gain_curve = make_gain_curve();

size_t pack7(const uint8_t* bytes, size_t count, uint8_t* output) {
    size_t written = 0;
    for (size_t start = 0;; start += 7) {
        size_t group = std::min<size_t>(7, count - start);
        uint8_t top = 0;
        for (size_t k = 0; k < group; ++k)
            top |= static_cast<uint8_t>((bytes[start + k] >> 7) << (6 - k));
        output[written++] = top;
        for (size_t k = 0; k < group; ++k) output[written++] = bytes[start + k] & 0x7F;
        if (group < 7) return written;
    }
}

size_t unpack7(const uint8_t* packed, size_t length, uint8_t* output) {
    size_t written = 0;
    for (size_t start = 0; start < length; start += 8) {
        const uint8_t top = packed[start];
        for (size_t k = 0; k < 7 && start + 1 + k < length; ++k)
            output[written++] =
                static_cast<uint8_t>((packed[start + 1 + k] & 0x7F) | ((top >> (6 - k)) & 1) << 7);
    }
    return written;
}

int32_t synthesize_tables(FftTables& tables, const double* frames, uint8_t* packed,
                          int32_t frame_count) {
    const int32_t n = frame_count;
    if (n < 1 || n > tonepak_max_frames) return 0;

    // 1. The spectrum of the cycle without its mean.
    std::vector<double> re(std::max(n, 1024)), im(std::max(n, 1024), 0.0);
    double sum = 0;
    for (int32_t j = 0; j < n; ++j) sum += frames[j];
    const double mean = sum / n;
    for (int32_t j = 0; j < n; ++j) re[j] = frames[j] - mean;
    if (fft(tables, re.data(), im.data(), n, fft_forward) != 0) return 0;

    // 2. Resampled to 1024 points: the lowest h positive frequencies stay at the bottom, the
    // matching negative ones move to the top, everything between is cleared.
    const int32_t h = n >= 1024 ? 512 : n / 2;
    std::memmove(&re[1024 - h], &re[n - h], h * sizeof(double));
    std::memmove(&im[1024 - h], &im[n - h], h * sizeof(double));
    for (int32_t k = n / 2; k <= 1023 - n / 2; ++k) re[k] = im[k] = 0;
    re[512] = im[512] = 0;

    // 3. The top of the band fades out.
    for (int32_t k = 351; k <= 511; ++k) {
        double f = 1 - (k - 351) / 162.0;
        f *= f;
        re[k] *= f, im[k] *= f, re[1024 - k] *= f, im[1024 - k] *= f;
    }

    // 4. Normalised by the peak of the resampled cycle and the largest gain.
    std::vector<double> wr(re.begin(), re.begin() + 1024), wi(im.begin(), im.begin() + 1024);
    if (fft(tables, wr.data(), wi.data(), 1024, fft_inverse) != 0) return 0;
    double peak = 0;
    for (double v : wr) peak = std::max(peak, std::fabs(v));
    if (peak < 1.52587890625e-05) peak = 1;  // 2^-16: a silent cycle stays silent
    const double divisor = peak * gain_curve[1023];
    for (int32_t k = 0; k < 1024; ++k) re[k] /= divisor, im[k] /= divisor;

    // 5. Nine levels of N = 1024 … 4 points, each weighted by the gain curve at step s = 2048 / N;
    // the half band keeps only the lower half of each level's band.
    std::vector<double> full(2044), half(2044);
    int32_t offset = 0;
    for (int32_t s = 2; s <= 512; s *= 2) {
        const int32_t size = 2048 / s;
        for (std::vector<double>* table : {&full, &half}) {
            const int32_t limit = table == &full ? size / 2 : size / 4;
            std::fill(wr.begin(), wr.end(), 0.0);
            std::fill(wi.begin(), wi.end(), 0.0);
            for (int32_t k = 0; k < limit; ++k) {
                const double g = gain_curve[k * s];
                wr[k] = g * re[k], wi[k] = g * im[k];
                if (k > 0) wr[size - k] = g * re[1024 - k], wi[size - k] = g * im[1024 - k];
            }
            if (fft(tables, wr.data(), wi.data(), size, fft_inverse) != 0) return 0;
            for (int32_t i = 0; i < size; ++i) (*table)[offset + i] = wr[i] * 2 / s;
        }
        offset += size;
    }

    // 6. Two full-band words and one half-band word (of levels 2 to 9) in every 6 bytes.
    uint8_t bytes[tonepak_table_bytes];
    for (int32_t i = 0; i < 1022; ++i) {
        uint16_t u = table_word(full[2 * i]), v = table_word(full[2 * i + 1]);
        uint16_t w = i < 1020 ? table_word(half[1024 + i]) : 0;
        uint8_t* b = bytes + 6 * i;
        b[0] = u >> 8, b[1] = u & 0xFF, b[2] = w >> 8, b[3] = v >> 8, b[4] = v & 0xFF;
        b[5] = w & 0xFF;
    }

    // 7. In 7-bit bytes.
    return static_cast<int32_t>(pack7(bytes, tonepak_table_bytes, packed));
}

int build_tonepak_message(FftTables& tables, const double* frames, int32_t frame_count,
                          uint8_t* message, int32_t slot, uint32_t name_value) {
    const uint8_t header[] = {sysex_start, maker_id[0],        maker_id[1], maker_id[2], 0x03,
                              0x00,        tonepak_message_id, 0x01,        0x01};
    std::memcpy(message, header, sizeof header);
    message[9] = static_cast<uint8_t>(slot & 0x3F);
    for (int c = 0; c < 4; ++c) message[10 + c] = (name_value >> (24 - 8 * c)) & 0x7F;
    if (frames == nullptr || synthesize_tables(tables, frames, message + 14, frame_count) == 0)
        return 0;
    // The maker's integrity fields: the 14-bit sum of bytes 10 … 7021, then the length 7017.
    int32_t sum = 0;
    for (int32_t p = 10; p <= 7021; ++p) sum += message[p];
    message[7022] = (sum >> 7) & 0x7F;
    message[7023] = sum & 0x7F;
    message[7024] = 0x36;
    message[7025] = 0x69;
    message[7026] = sysex_end;
    return 1;
}

}  // namespace jx
