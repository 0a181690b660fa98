#pragma once
// Checks shared by the sample reader tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "audio/sample_info.h"
#include "transfer/entry_info.h"

namespace jx::test {

// A file the reader refuses: the parse gives `result`, the File Info shows `text` and no sample
// button is enabled.
template <class Parse, class Describe>
void expect_refused(Parse parse, Describe describe, const std::vector<uint8_t>& file, int result,
                    const char* text) {
    SampleInfo info;
    EXPECT_EQ(parse(info, file.data(), file.size()), result);
    EntryInfo shown = describe(file.data(), file.size());
    EXPECT_EQ(shown.text, text);
    EXPECT_TRUE(shown.is_sample);
    EXPECT_FALSE(shown.enable_loop || shown.enable_channel || shown.enable_tonepak);
}

}  // namespace jx::test
