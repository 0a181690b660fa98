#pragma once
// libsndfile as the peer of the sample tests: it writes sample files for the readers and reads
// back the values they must find. Include only where JX_HAVE_SNDFILE is defined.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace jx::test {

// The value the readers must give for a sample libsndfile reads back: integers keep their top
// `bits` bits; floats are clamped to [-1, 1), scaled by 2^31, truncated and kept to 24 bits
// (doubles are clamped a little lower than singles). Channels interleaved.
inline std::vector<int32_t> peer_values(const std::string& path, int bits) {
    SF_INFO sf{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &sf);
    EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
    if (!file) return {};
    size_t count = static_cast<size_t>(sf.frames) * sf.channels;
    std::vector<int32_t> values(count);
    int subtype = sf.format & SF_FORMAT_SUBMASK;
    if (subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE) {
        std::vector<double> d(count);
        EXPECT_EQ(sf_read_double(file, d.data(), count), static_cast<sf_count_t>(count));
        double top = subtype == SF_FORMAT_FLOAT ? 0.99999988079071045 : 0.9999998807;
        for (size_t k = 0; k < count; ++k) {
            double v = d[k] < -1.0 ? -1.0 : d[k] > 0.9999998807 ? top : d[k];
            values[k] = static_cast<int32_t>(std::trunc(v * 2147483648.0)) >> 8;
        }
    } else {
        EXPECT_EQ(sf_read_int(file, values.data(), count), static_cast<sf_count_t>(count));
        for (int32_t& v : values) v >>= 32 - bits;
    }
    sf_close(file);
    return values;
}

// Writes `frames` frames that sweep the whole range (beyond it for float data, to reach the
// clamp), with a forward loop 10 ... 90 where the format keeps one.
inline void write_with_sndfile(const std::string& path, int format, int channels, int rate,
                               int frames) {
    SF_INFO sf{};
    sf.samplerate = rate;
    sf.channels = channels;
    sf.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &sf);
    EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
    if (!file) return;
    SF_INSTRUMENT instrument{};
    instrument.basenote = 60;
    instrument.key_hi = instrument.velocity_hi = 127;
    instrument.loop_count = 1;
    instrument.loops[0].mode = SF_LOOP_FORWARD;
    instrument.loops[0].start = 10;
    instrument.loops[0].end = 90;
    sf_command(file, SFC_SET_INSTRUMENT, &instrument, sizeof instrument);
    size_t count = static_cast<size_t>(frames) * channels;
    uint32_t seed = 12345;
    int subtype = format & SF_FORMAT_SUBMASK;
    if (subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE) {
        std::vector<double> d(count);
        for (double& v : d)
            v = static_cast<int32_t>(seed = seed * 1664525 + 1013904223) / 2147483648.0 * 1.25;
        d[0] = 1.0, d[1] = -1.0;
        sf_write_double(file, d.data(), count);
    } else {
        std::vector<int> v(count);
        for (int& x : v) x = static_cast<int32_t>(seed = seed * 1664525 + 1013904223);
        v[0] = INT32_MAX, v[1] = INT32_MIN;
        sf_write_int(file, v.data(), count);
    }
    sf_close(file);
}

}  // namespace jx::test
