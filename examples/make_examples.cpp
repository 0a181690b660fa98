// Writes the example files that the README's first command describes with jx-cli info:
// maker dumps for each device (one with damaged messages), an empty file and a small WAV.
#include <cmath>
#include <cstdio>
#include <string>

#include "maker_message.h"

using jx::test::Bytes;
using jx::test::concat;
using jx::test::record;

namespace {

bool write(const std::string& folder, const char* name, const Bytes& bytes) {
    std::string path = folder + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

Bytes body(int size, int seed) {
    Bytes b;
    for (int k = 0; k < size; ++k) b.push_back(static_cast<uint8_t>((k * 37 + seed) & 0x7F));
    return b;
}

Bytes damaged(Bytes m) {
    m[m.size() - 4] ^= 0x01;  // checksum off by one
    return m;
}

void put32(Bytes& b, uint32_t v) {
    for (int k = 0; k < 4; ++k) b.push_back((v >> (8 * k)) & 0xFF);
}
void put16(Bytes& b, uint16_t v) {
    b.push_back(v & 0xFF);
    b.push_back(v >> 8);
}

// A one-second 16-bit mono sine at 440 Hz.
Bytes sine_wav() {
    const uint32_t rate = 44100, frames = rate;
    Bytes w = {'R', 'I', 'F', 'F'};
    put32(w, 36 + frames * 2);
    w.insert(w.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(w, 16);
    put16(w, 1);
    put16(w, 1);
    put32(w, rate);
    put32(w, rate * 2);
    put16(w, 2);
    put16(w, 16);
    w.insert(w.end(), {'d', 'a', 't', 'a'});
    put32(w, frames * 2);
    for (uint32_t k = 0; k < frames; ++k)
        put16(w, static_cast<uint16_t>(
                     static_cast<int16_t>(12000 * std::sin(2 * M_PI * 440 * k / rate))));
    return w;
}

// One cycle of a sawtooth, 200 frames at 44100 Hz, looped as a whole: what the TonePAK
// command turns into a waveform.
Bytes saw_cycle_wav() {
    const uint32_t rate = 44100, frames = 200;
    Bytes w = {'R', 'I', 'F', 'F'};
    put32(w, 4 + 24 + 8 + frames * 2 + 8 + 60);
    w.insert(w.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(w, 16);
    put16(w, 1);
    put16(w, 1);
    put32(w, rate);
    put32(w, rate * 2);
    put16(w, 2);
    put16(w, 16);
    w.insert(w.end(), {'d', 'a', 't', 'a'});
    put32(w, frames * 2);
    for (uint32_t k = 0; k < frames; ++k)
        put16(w, static_cast<uint16_t>(static_cast<int16_t>(-16000 + 32000.0 * k / frames)));
    w.insert(w.end(), {'s', 'm', 'p', 'l'});
    put32(w, 60);
    for (uint32_t v : {0u, 0u, 1000000000u / rate, 60u, 0u, 0u, 0u, 1u, 0u}) put32(w, v);
    for (uint32_t v : {0u, 0u, 0u, frames - 1, 0u, 0u}) put32(w, v);  // forward loop 0..199
    return w;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]) == "--help") {
        std::fprintf(argc == 2 ? stdout : stderr,
                     "usage: make-examples FOLDER\n\n"
                     "Writes example SysEx dumps and a sample into FOLDER.\n");
        return argc == 2 ? 0 : 2;
    }
    std::string dir = argv[1];
    Bytes ke;
    for (int k = 0; k < 4; ++k) ke = concat({ke, record(0x06, 'R', body(120, k))});
    for (int k = 0; k < 16; ++k) ke = concat({ke, record(0x06, 'S', body(60, k))});
    ke = concat({ke, record(0x06, 'W', body(30, 1)), record(0x06, 'T', body(400, 2)),
                 damaged(record(0x06, 'T', body(400, 3))), record(0x06, 'U', body(50, 4)),
                 record(0x06, 'V', body(20, 5))});
    Bytes kg = concat({record(0x07, 'R', body(90, 1)), record(0x07, 'S', body(40, 2)),
                       damaged(record(0x07, 'S', body(40, 3)))});
    Bytes ka = concat({record(0x02, 'P', body(30, 1)), record(0x02, 'R', body(200, 2)),
                       record(0x02, 'g', body(300, 3)), record(0x02, 'i', body(40, 4))});
    Bytes kb = concat({record(0x03, 'R', body(200, 5)), damaged(record(0x03, 'g', body(300, 6)))});
    Bytes krx = {0xF0, 0x00, 0x6B, 0x2E, 0x01, 0x00, 0x10, 0x01, 0xF7};
    bool ok = write(dir, "ke_kits_and_sounds.syx", ke) && write(dir, "kg_damaged.syx", kg) &&
              write(dir, "ka_dump.syx", ka) && write(dir, "kb_dump.syx", kb) &&
              write(dir, "pulsebench.syx", krx) && write(dir, "empty.syx", {}) &&
              write(dir, "sine440.wav", sine_wav()) && write(dir, "saw_cycle.wav", saw_cycle_wav());
    if (!ok) {
        std::fprintf(stderr, "make-examples: cannot write into '%s'\n", dir.c_str());
        return 1;
    }
    return 0;
}
