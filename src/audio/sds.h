#pragma once
// The MIDI Sample Dump Standard messages: building a dump for sending (header messages, then
// one 127-byte data packet at a time), the handshake replies, and reading every message back.
// The layout is the one our devices expect: the extended dump header and the sample name
// message carry the sample number with its high 7 bits first.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "audio/sample_info.h"
#include "audio/sample_modes.h"
#include "platform/midi/sysex.h"

namespace jx {

namespace sds {
// Byte 3 of the messages; byte 1 is always universal_non_realtime.
constexpr uint8_t dump_header = 0x01;
constexpr uint8_t data_packet = 0x02;
constexpr uint8_t dump_request = 0x03;
constexpr uint8_t extended = 0x05;  // byte 4 then says which: 05 header, 03 sample name
constexpr uint8_t extended_header = 0x05;
constexpr uint8_t sample_name = 0x03;
constexpr uint8_t wait = 0x7C;
constexpr uint8_t cancel = 0x7D;
constexpr uint8_t nak = 0x7E;
constexpr uint8_t ack = 0x7F;

constexpr size_t header_size = 21;
constexpr size_t extended_header_size = 34;
constexpr size_t packet_size = 127;
constexpr size_t packet_data_bytes = 120;
constexpr size_t handshake_size = 6;
constexpr size_t dump_request_size = 7;
constexpr size_t max_name_chars = 127;
constexpr size_t header_buffer_size = 520;
constexpr size_t packet_buffer_size = 128;
constexpr int max_words_per_packet = 60;

// The largest values the dump header's fields hold: period, length and loop points in three
// 7-bit groups, the sample number in two.
constexpr int32_t max_header_field = 0x1FFFFF;
constexpr int32_t max_sample_number = 0x3FFF;

constexpr int min_bits = 8;  // the word sizes a dump can carry
constexpr int max_bits = 28;
}  // namespace sds

// One dump being built for sending. The caller owns it, one per dump: the sample description,
// the packing, the counters and the buffers belong to this dump alone, so a parse on another
// thread can never change a dump in progress.
struct SdsDump {
    SampleInfo sample;          // the dump's own copy; loop mode On may set its loop
    uint8_t device = 0;         // byte 2 of every message
    int32_t sample_number = 0;  // target slot, 0..16383
    int32_t bits = 16;          // bits per word on the wire, 8..28
    int32_t word_shift = 0;     // moves a sample's word to `bits` (left when positive)
    int32_t bytes_per_word = 3;
    int32_t words_per_packet = 40;
    int32_t packet_number = 0;    // 0..127
    int32_t sample_position = 0;  // index of the first word of the next packet
    int32_t read_position = 0;    // the converter's place in the entry's bytes
    int32_t committed_packet_number = 0;
    int32_t committed_sample_position = 0;
    int32_t committed_read_position = 0;
    std::array<uint8_t, sds::header_buffer_size> header{};
    size_t header_length = 0;  // write offset into `header`
    std::array<uint8_t, sds::packet_buffer_size> packet{};
    // The words of the next packet, right-justified in the sample's bits; the first
    // words_per_packet are sent.
    std::array<int32_t, sds::max_words_per_packet> words{};
};

struct SdsPacking {
    int32_t bytes_per_word;
    int32_t words_per_packet;
};

// Bits per word on the wire for a sample's bit depth: 8 to 28 as they are; shallower samples go
// as 8-bit words and deeper ones as 28-bit words.
int32_t sds_wire_bits(int32_t bits);
// 2 bytes and 60 words below 15 bits, 3 and 40 up to 21, 4 and 30 above (after sds_wire_bits).
SdsPacking sds_packing(int32_t bits);

// Starts a dump of dump.sample: the packing from its bits, the counters and their committed
// copies at 0, the read positions at the sample's data start, the header buffer empty. Returns
// the sample's length in words.
int32_t sds_begin_dump(SdsDump& dump, int32_t sample_number, uint8_t device);
// Why the header messages cannot carry the sample in the given loop mode: a value beyond what
// its field holds (a sample of 2,097,152 frames or more in a dump header, say), which the
// receiver would read wrapped into another value. Empty when every field fits.
std::string sds_header_problem(const SampleInfo& sample, int32_t sample_number, LoopMode loop_mode,
                               bool extended);
// Appends the header messages and returns their size (0, and nothing appended, when a value
// does not fit its field: see sds_header_problem): without a name one dump header; with a
// name (UTF-8) an extended dump header and a sample name message.
size_t sds_build_header(SdsDump& dump, LoopMode loop_mode, std::optional<std::string_view> name);
// Writes the next data packet into dump.packet from dump.words, numbered and positioned from the
// committed copies, then advances the working counters. Returns the packet's size.
size_t sds_build_packet(SdsDump& dump);
// Makes the packet just built the last one sent: its successor is built next. Without a commit
// the same packet is built again (a NAK sends it once more).
void sds_commit_packet(SdsDump& dump);

// A word right-justified in `bits`, offset to unsigned and left-justified in 7 x bytes_per_word
// bits, most significant 7-bit group first.
void sds_encode_word(int32_t word, int32_t bits, int32_t bytes_per_word, uint8_t* out);
int32_t sds_decode_word(const uint8_t* in, int32_t bits, int32_t bytes_per_word);
// Exclusive-or of bytes 1 to 124 of a data packet, masked with 7F.
uint8_t sds_packet_checksum(const uint8_t* packet);
// Copies the 127 bytes of a data packet to `out` and returns its checksum, in one pass.
uint8_t sds_copy_packet(const uint8_t* packet, uint8_t* out);

// The rate in hertz, to the nearest, with 44099 read as 44100 and 48001 as 48000 (the common
// rates that do not survive the round trip); 0 for a period that is not positive.
int32_t sds_rate_from_period(int32_t period);

// F0 7E device type packet F7, from the fixed template of the ACK, NAK or CANCEL.
std::array<uint8_t, sds::handshake_size> sds_handshake(uint8_t type, uint8_t device,
                                                       uint8_t packet_number);

// F0 7E device 03 number-low number-high F7: asks the device for the dump of one sample, the
// number in two 7-bit groups, low first.
std::array<uint8_t, sds::dump_request_size> sds_dump_request(uint8_t device, int32_t sample_number);

// Reading messages. What the parsers return:
enum MessageRead : int {
    message_whole = 1,  // the whole message
    message_other = 0,  // the data is not that message
    message_cut = -1,   // that message, but cut short or without its F7 where due
};

// True when the data begins with F0 7E, any byte, 01.
bool is_sds_dump_header(const uint8_t* data, size_t length);

struct SdsHeader {
    uint8_t device = 0;
    int32_t sample_number = 0;
    int32_t bits = 0;
    int32_t period = 0;  // nanoseconds (dump header)
    int32_t rate = 0;    // hertz (extended dump header)
    int32_t length = 0;  // words
    int32_t loop_start = 0;
    int32_t loop_end = 0;
    int32_t loop_type = loop_type_none;
    int32_t channels = 1;  // extended dump header
};

// The fields of a dump header at the start of the data, as far as the data holds them; a field
// cut off by the end stays as SdsHeader has it.
SdsHeader sds_header_fields(const uint8_t* data, size_t length);
MessageRead sds_parse_header(const uint8_t* data, size_t length, SdsHeader& header);
MessageRead sds_parse_extended_header(const uint8_t* data, size_t length, SdsHeader& header);

struct SdsSampleName {
    uint8_t device = 0;
    int32_t sample_number = 0;
    std::string name;  // the bytes as sent
};
MessageRead sds_parse_sample_name(const uint8_t* data, size_t length, SdsSampleName& name);

struct SdsPacket {
    uint8_t device = 0;
    int32_t packet_number = 0;
    bool checksum_ok = false;
};
MessageRead sds_parse_packet(const uint8_t* data, size_t length, SdsPacket& packet);
// Decodes the words of a whole data packet (127 bytes) dumped with `bits`; returns their count.
int sds_decode_packet(const uint8_t* packet, int32_t bits, int32_t* words);

struct SdsHandshake {
    uint8_t type = 0;           // sds::ack, nak, cancel or wait
    int32_t packet_number = 0;  // -1 when the message ends before it
};
// A handshake reply from `device`, recognised by byte 1 7E, byte 2 the device and byte 3 one of
// the four types: message_whole when it is one, else message_other. A WAIT may be longer than six
// bytes.
MessageRead sds_parse_handshake(const uint8_t* data, size_t length, uint8_t device,
                                SdsHandshake& reply);

}  // namespace jx
