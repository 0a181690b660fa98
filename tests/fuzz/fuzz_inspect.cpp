// Feeds arbitrary bytes to what the inspector reads: the message table with the labelled header
// of every row, and the frames of a sound with their levels and a draw across them. Each row must
// lie inside the data, and every frame drawn must lie within the values read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "analysis/message_table.h"
#include "audio/sample_frames.h"
#include "audio/waveform_levels.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t end = 0;
    for (const jx::MessageRow& row : jx::list_messages(data, size)) {
        if (row.offset < end || row.length == 0 || row.offset + row.length > size) std::abort();
        end = row.offset + row.length;
        for (const jx::HeaderField& field : jx::header_fields(row, data))
            if (field.offset + field.length > row.length) std::abort();
    }
    jx::SampleFrames sound;
    if (!jx::read_sample_frames(data, size, sound)) return 0;
    for (const std::vector<float>& channel : sound.channels) {
        if (channel.size() != static_cast<size_t>(sound.frames())) std::abort();
        const jx::WaveLevels levels = jx::build_levels(channel);
        std::vector<jx::Peak> peaks(64);
        jx::column_peaks(levels, 0.5, channel.size() / 60.0 + 0.01, 64, peaks.data());
        for (const jx::Peak& peak : peaks)
            if (!peak.empty() && (peak.low < -2 || peak.high > 2)) std::abort();
    }
    return 0;
}
