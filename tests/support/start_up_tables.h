#pragma once
// The transform tables the program builds at start-up, made once for the whole test program.
#include "audio/transform.h"

namespace jx::test {

inline FftTables& start_up_tables() {
    static FftTables tables = [] {
        FftTables t;
        fft_init(t, 16384, fft_flag::any_length);
        return t;
    }();
    return tables;
}

}  // namespace jx::test
