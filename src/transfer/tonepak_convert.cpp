#include "transfer/tonepak_convert.h"

#include "audio/sample_cycle.h"
#include "audio/sample_file.h"
#include "audio/sds_convert.h"
#include "audio/waveform_synthesis.h"
#include "platform/os/paths.h"
#include "transfer/entry_info.h"

namespace jx {

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
            parse_sample(s, entry->bytes(), entry->length()) != read_ok)
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
