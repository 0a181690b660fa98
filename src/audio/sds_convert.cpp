#include "audio/sds_convert.h"

#include <climits>

#include "audio/aiff.h"
#include "audio/sample_words.h"
#include "audio/wav.h"
#include "audio/zbname.h"
#include "platform/os/paths.h"

namespace jx {

namespace {

using Parse = ReadResult (*)(SampleInfo&, const uint8_t*, size_t);
using Word = int32_t (*)(const SampleInfo&, const uint8_t*);
using Fill = int32_t (*)(SampleConversion&, int32_t);

size_t first_step(SampleConversion& c, Parse parse, size_t& position, size_t& length,
                  const uint8_t*& buffer, uint32_t name_value,
                  std::optional<std::string_view> name) {
    c.data = buffer;
    c.data_length = length;
    c.frames = 0;
    c.problem.clear();
    SdsDump& dump = c.dump;
    // A parse that failed part way may leave fields of no file at all: such an entry is skipped.
    if (parse(dump.sample, c.data, c.data_length) != read_ok) {
        c.problem = "the file does not read as a whole sample";
        return 0;
    }
    int64_t frames = frames_in_data(dump.sample, c.data_length);
    int64_t frame_bytes = int64_t{dump.sample.channels} * dump.sample.container_bytes;
    if (frames < 1) {
        c.problem = "it holds no sample frames";
        return 0;
    }
    // The read positions are 32-bit byte offsets.
    if (dump.sample.data_start + frames * frame_bytes > INT32_MAX) {
        c.problem = "its sample data lies beyond 2 GiB";
        return 0;
    }
    dump.sample.length = static_cast<int32_t>(frames);
    // A file without a rate (one that says 0, an AIFF rate that is not a number) would go out
    // with a sample period of 0, which a receiver refuses.
    if (dump.sample.rate < 1) {
        c.problem = "the sample rate is " + std::to_string(dump.sample.rate) +
                    " Hz: a dump needs a rate of 1 Hz or more";
        return 0;
    }
    c.problem = sds_header_problem(dump.sample, c.sample_number, c.loop_mode, name.has_value());
    if (!c.problem.empty()) return 0;
    c.frames = dump.sample.length;

    sds_begin_dump(dump, c.sample_number, c.device);
    if (sds_build_header(dump, c.loop_mode, name) == 0) {
        c.frames = 0;
        c.problem = "its header messages do not fit the buffer";
        return 0;
    }
    if (name_value != 0) sds_build_zbname(dump, name_value);
    position = 1;
    length = c.frames == 1 ? 2 : static_cast<size_t>(c.frames);
    buffer = dump.header.data();
    return dump.header_length;
}

size_t packet_step(SampleConversion& c, Fill fill, size_t& position, const uint8_t*& buffer) {
    if (c.frames == 0) return 0;  // no first step succeeded
    SdsDump& dump = c.dump;
    sds_commit_packet(dump);
    dump.read_position = fill(c, dump.committed_read_position);
    sds_build_packet(dump);
    position = static_cast<size_t>(dump.sample_position);
    buffer = dump.packet.data();
    return sds::packet_size;
}

size_t kind_step(SampleConversion& c, Parse parse, Fill fill, size_t& position, size_t& length,
                 const uint8_t*& buffer, uint32_t name_value,
                 std::optional<std::string_view> name) {
    if (position == 0) return first_step(c, parse, position, length, buffer, name_value, name);
    return packet_step(c, fill, position, buffer);
}

template <Word word>
int32_t fill_words(SampleConversion& c, int32_t read_position) {
    SdsDump& dump = c.dump;
    const SampleInfo& s = dump.sample;
    const int64_t frame_bytes = int64_t{s.channels} * s.container_bytes;
    // The last place a whole frame can start: nothing outside the entry is read, whatever
    // position the caller hands in.
    const int64_t last_start = static_cast<int64_t>(c.data_length) - frame_bytes;
    int64_t at = read_position;
    int64_t frame = dump.committed_sample_position;
    for (int i = 0; i < dump.words_per_packet; ++i, ++frame) {
        if (frame >= c.frames || at < 0 || at > last_start) {
            dump.words[i] = 0;
            continue;
        }
        const uint8_t* p = c.data + at;
        int32_t value = word(s, p);
        if (s.channels == 2) {
            int32_t second = word(s, p + s.container_bytes);
            if (c.channel_mode == channel_right)
                value = second;
            else if (c.channel_mode != channel_left)
                value = static_cast<int32_t>((int64_t{value} + second) / 2);
        }
        dump.words[i] = value;
        at += frame_bytes;
    }
    return static_cast<int32_t>(at);
}

}  // namespace

int32_t fill_wav_words(SampleConversion& c, int32_t read_position) {
    return fill_words<wav_word>(c, read_position);
}

int32_t fill_aiff_words(SampleConversion& c, int32_t read_position) {
    return fill_words<aiff_word>(c, read_position);
}

int32_t fill_aifc_words(SampleConversion& c, int32_t read_position) {
    return fill_words<aifc_word>(c, read_position);
}

size_t convert_sample_step(SampleConversion& c, size_t& position, size_t& length,
                           const uint8_t*& buffer, uint32_t name_value,
                           std::optional<std::string_view> name) {
    // Each kind has its own reader and its own words; the steps are alike otherwise.
    switch (c.kind) {
        case sample_kind::wav:
            return kind_step(c, parse_wav, fill_wav_words, position, length, buffer, name_value,
                             name);
        case sample_kind::aiff:
            return kind_step(c, parse_aiff, fill_aiff_words, position, length, buffer, name_value,
                             name);
        case sample_kind::aifc:
            return kind_step(c, parse_aifc, fill_aifc_words, position, length, buffer, name_value,
                             name);
    }
    return 0;
}

std::string sample_base_name(const std::string& entry_name) {
    return path_find_file_name(path_remove_extension(entry_name));
}

uint32_t sample_name_code(const std::string& entry_name) {
    return four_char_value(sample_base_name(entry_name));
}

size_t convert_whole_sample(SampleConversion& c, const uint8_t* data, size_t length,
                            uint32_t name_value, std::optional<std::string_view> name,
                            const std::function<void(const uint8_t*, size_t)>& send) {
    size_t position = 0, total = 0;
    const uint8_t* buffer = data;
    // The send engine's loop: a step while the position differs from the length, until a step
    // has nothing to send or the position passes the length.
    while (position < length) {
        size_t size = convert_sample_step(c, position, length, buffer, name_value, name);
        if (size == 0) break;
        send(buffer, size);
        total += size;
    }
    return total;
}

}  // namespace jx
