#pragma once
// An output port that keeps every message the program writes to it, in order, as it is written:
// the far end of the cable for tests that look at the program's replies without timing.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/midi/midi.h"

namespace jx::test {

class ReplyCapture : public MidiBackend {
  public:
    int out_count() override { return 1; }
    std::string out_name(int) override { return "Capture"; }
    int in_count() override { return 0; }
    std::string in_name(int) override { return {}; }
    std::unique_ptr<MidiOutConnection> open_out(int, std::string&) override {
        return std::make_unique<Connection>(*this);
    }
    std::unique_ptr<MidiInConnection> open_in(int, MidiInSink&, std::string& error) override {
        error = "no input";
        return nullptr;
    }

    std::vector<std::vector<uint8_t>> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }

  private:
    struct Connection : MidiOutConnection {
        explicit Connection(ReplyCapture& owner) : owner(owner) {}
        std::optional<MidiError> write(const uint8_t* data, size_t length,
                                       std::chrono::steady_clock::time_point) override {
            std::lock_guard lock(owner.mutex_);
            owner.messages_.emplace_back(data, data + length);
            return std::nullopt;
        }
        ReplyCapture& owner;
    };
    mutable std::mutex mutex_;
    std::vector<std::vector<uint8_t>> messages_;
};

}  // namespace jx::test
