#include "audio/tonepak_convert.h"

#include <algorithm>
#include <cmath>

#include "audio/sample_words.h"
#include "audio/sds_convert.h"
#include "audio/waveform_synthesis.h"
#include "platform/paths.h"
#include "transfer/entry_info.h"

namespace jx {

std::vector<double> read_cycle(const uint8_t* data, size_t length, int32_t first, int32_t count,
                               int32_t capacity, int channel_mode) {
    SampleInfo s;
    if (parse_sample(s, data, length) != 1) return {};
    const int64_t frames = frames_in_data(s, length);
    int64_t n = std::min(count, capacity);
    if (first < 0 || first >= frames || n < 1) return {};
    n = std::min(n, frames - first);
    const int64_t frame_bytes = int64_t{s.channels} * s.container_bytes;
    // Every kind of word to the same scale, so that the silence threshold of the synthesis means
    // the same for each.
    const double scale = std::ldexp(2.0, -s.bits);
    std::vector<double> cycle(static_cast<size_t>(n));
    const uint8_t* p = data + s.data_start + first * frame_bytes;
    for (double& value : cycle) {
        value = sample_word(s, p) * scale;
        if (s.channels == 2) {
            double second = sample_word(s, p + s.container_bytes) * scale;
            if (channel_mode == sds::channel_right)
                value = second;
            else if (channel_mode != sds::channel_left)
                value = (value + second) * 0.5;
        }
        p += frame_bytes;
    }
    return cycle;
}

TonepakOutcome convert_to_tonepak(TransferList& list, FftTables& tables, bool sending) {
    TonepakOutcome outcome;
    if (sending) {
        outcome.refused = true;
        return outcome;
    }
    std::vector<uint8_t> message(tonepak_message_length);
    int32_t slot = 0;
    for (int index = first_selected(list); index >= 0; index = next_selected(list), ++slot) {
        const Entry* entry = entry_at(list, index);
        if (entry == nullptr) continue;
        set_channel_mode(list, entry->channel_option, false);
        SampleInfo s;
        if (!is_sample(entry->bytes(), entry->length()) ||
            parse_sample(s, entry->bytes(), entry->length()) != 1)
            continue;
        const int64_t window = int64_t{s.loop_end} - s.loop_start;
        if (window < 0 || window >= tonepak_max_frames || s.channels >= 3) continue;
        std::vector<double> cycle =
            read_cycle(entry->bytes(), entry->length(), s.loop_start,
                       static_cast<int32_t>(window + 1), tonepak_max_frames, list.channel_mode);
        const std::string name = entry_name(list, index);
        if (cycle.empty() ||
            !build_tonepak_message(tables, cycle.data(), static_cast<int32_t>(cycle.size()),
                                   message.data(), slot, sample_name_code(name)))
            continue;
        auto waveform = std::make_unique<Entry>();
        waveform->data = message;
        replace_entry(list, index, path_add_extension(sample_base_name(name), ".syx"),
                      std::move(waveform));
        outcome.converted.push_back(index);
    }
    return outcome;
}

}  // namespace jx
