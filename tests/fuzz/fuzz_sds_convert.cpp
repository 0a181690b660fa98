// Feeds arbitrary bytes to the SDS conversion and the waveform cycle reader as a sample entry.
// The first byte chooses the options; the rest is the entry. The dump must be whole messages of
// data bytes, one packet for every words-per-packet frames, and the cycle no longer than asked.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

#include "audio/sample_cycle.h"
#include "audio/sample_file.h"
#include "audio/sample_words.h"
#include "audio/sds_convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t options = data[0];
    ++data, --size;
    jx::SampleConversion c{.kind = jx::sample_kind_of(data, size),
                           .loop_mode = static_cast<jx::LoopMode>(options % 3),
                           .channel_mode = static_cast<jx::ChannelMode>((options / 3) % 3),
                           .sample_number = options & 0x80 ? 200 : 5,
                           .device = options};
    size_t messages = 0, header = 0;
    jx::convert_whole_sample(
        c, data, size, options & 0x40 ? 0x4B49434B : 0,
        options & 0x20 ? std::optional<std::string_view>("kick") : std::nullopt,
        [&](const uint8_t* m, size_t n) {
            // Whole SysEx messages, one after another, of data bytes between F0 and F7.
            bool inside = false;
            for (size_t k = 0; k < n; ++k) {
                if (m[k] == 0xF0 ? inside : m[k] == 0xF7 ? !inside : m[k] >= 0x80 || !inside)
                    std::abort();
                if (m[k] == 0xF0 || m[k] == 0xF7) inside = m[k] == 0xF0;
            }
            if (inside) std::abort();
            if (messages == 0)
                header = n;
            else if (n != 127)
                std::abort();
            ++messages;
        });
    if (messages > 0) {
        const int64_t per_packet = c.dump.words_per_packet;
        if (header == 0 ||
            messages - 1 != static_cast<size_t>((c.frames + per_packet - 1) / per_packet))
            std::abort();
    }

    jx::SampleInfo info;
    if (jx::parse_sample(info, data, size) == 1) {
        const int32_t count = (options & 0x1F) + 1;
        std::vector<double> cycle =
            jx::read_cycle(data, size, info.loop_start, count, 16384, c.channel_mode);
        if (cycle.size() > static_cast<size_t>(count)) std::abort();
    }
    return 0;
}
