#include "platform/midi/midi_winmm.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cwchar>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/os/wide_win.h"

namespace jx {

namespace {

using Clock = std::chrono::steady_clock;

// Messages that may wait in an output driver at once: one playing, the next ready behind it.
constexpr size_t out_queue_limit = 4;
// The size of the buffers the driver fills with what arrives.
constexpr size_t in_buffer_size = 16384;

class SystemWinmm final : public WinmmCalls {
  public:
    UINT midiOutGetNumDevs() override { return ::midiOutGetNumDevs(); }
    MMRESULT midiOutGetDevCapsW(UINT_PTR id, MIDIOUTCAPSW* caps, UINT size) override {
        return ::midiOutGetDevCapsW(id, caps, size);
    }
    MMRESULT midiOutOpen(HMIDIOUT* out, UINT id, DWORD_PTR callback, DWORD_PTR instance,
                         DWORD flags) override {
        return ::midiOutOpen(out, id, callback, instance, flags);
    }
    MMRESULT midiOutClose(HMIDIOUT out) override { return ::midiOutClose(out); }
    MMRESULT midiOutPrepareHeader(HMIDIOUT out, MIDIHDR* header, UINT size) override {
        return ::midiOutPrepareHeader(out, header, size);
    }
    MMRESULT midiOutUnprepareHeader(HMIDIOUT out, MIDIHDR* header, UINT size) override {
        return ::midiOutUnprepareHeader(out, header, size);
    }
    MMRESULT midiOutLongMsg(HMIDIOUT out, MIDIHDR* header, UINT size) override {
        return ::midiOutLongMsg(out, header, size);
    }
    MMRESULT midiOutReset(HMIDIOUT out) override { return ::midiOutReset(out); }
    MMRESULT midiOutGetErrorTextW(MMRESULT result, LPWSTR text, UINT size) override {
        return ::midiOutGetErrorTextW(result, text, size);
    }
    UINT midiInGetNumDevs() override { return ::midiInGetNumDevs(); }
    MMRESULT midiInGetDevCapsW(UINT_PTR id, MIDIINCAPSW* caps, UINT size) override {
        return ::midiInGetDevCapsW(id, caps, size);
    }
    MMRESULT midiInOpen(HMIDIIN* in, UINT id, DWORD_PTR callback, DWORD_PTR instance,
                        DWORD flags) override {
        return ::midiInOpen(in, id, callback, instance, flags);
    }
    MMRESULT midiInClose(HMIDIIN in) override { return ::midiInClose(in); }
    MMRESULT midiInPrepareHeader(HMIDIIN in, MIDIHDR* header, UINT size) override {
        return ::midiInPrepareHeader(in, header, size);
    }
    MMRESULT midiInUnprepareHeader(HMIDIIN in, MIDIHDR* header, UINT size) override {
        return ::midiInUnprepareHeader(in, header, size);
    }
    MMRESULT midiInAddBuffer(HMIDIIN in, MIDIHDR* header, UINT size) override {
        return ::midiInAddBuffer(in, header, size);
    }
    MMRESULT midiInStart(HMIDIIN in) override { return ::midiInStart(in); }
    MMRESULT midiInStop(HMIDIIN in) override { return ::midiInStop(in); }
    MMRESULT midiInReset(HMIDIIN in) override { return ::midiInReset(in); }
    MMRESULT midiInGetErrorTextW(MMRESULT result, LPWSTR text, UINT size) override {
        return ::midiInGetErrorTextW(result, text, size);
    }
};

// The driver sets the done flag from its own thread.
bool header_done(MIDIHDR& header) {
    return std::atomic_ref<DWORD>(header.dwFlags).load() & MHDR_DONE;
}

// Waits on `event` until `done()` or the deadline; true when done.
template <typename Done>
bool wait_for(HANDLE event, Clock::time_point deadline, Done done) {
    while (!done()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return done();
        WaitForSingleObject(event, static_cast<DWORD>(left.count()));
    }
    return true;
}

// One device of winmm's output list, opened with an event that the driver sets whenever it is
// done with a message.
class WinmmOut final : public MidiOutConnection {
  public:
    WinmmOut(WinmmCalls& calls, std::string name, std::chrono::milliseconds stall_limit)
        : calls_(calls),
          name_(std::move(name)),
          stall_limit_(stall_limit),
          event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

    ~WinmmOut() override {
        if (out_) {
            reset();
            // What the driver never gave back stays allocated: it may still read it.
            if (!playing_.empty())
                for (auto& message : playing_) (void)message.release();
            calls_.midiOutClose(out_);
        }
        if (event_) CloseHandle(event_);
    }

    bool open(UINT id, std::string& error) {
        if (!event_) {
            error = "Could not open the MIDI output " + name_ + ": " +
                    windows_error_reason(GetLastError()) + ".";
            return false;
        }
        const MMRESULT result =
            calls_.midiOutOpen(&out_, id, reinterpret_cast<DWORD_PTR>(event_), 0, CALLBACK_EVENT);
        if (result != MMSYSERR_NOERROR) {
            out_ = nullptr;
            error = winmm_failure(calls_, true, "Could not open the MIDI output " + name_, result);
            return false;
        }
        return true;
    }

    std::optional<MidiError> write(const uint8_t* data, size_t length, Clock::time_point) override {
        release_done();
        std::string error;
        if (!wait_for_room(out_queue_limit, length, error))
            return MidiError{MidiErrorKind::server_down, error};
        auto message = std::make_unique<Message>();
        message->bytes.assign(data, data + length);
        MIDIHDR& header = message->header;
        header.lpData = reinterpret_cast<LPSTR>(message->bytes.data());
        header.dwBufferLength = static_cast<DWORD>(length);
        header.dwBytesRecorded = static_cast<DWORD>(length);
        MMRESULT result = calls_.midiOutPrepareHeader(out_, &header, sizeof header);
        if (result != MMSYSERR_NOERROR) return failed(result, length);
        for (;;) {
            result = calls_.midiOutLongMsg(out_, &header, sizeof header);
            // A driver that takes one message at a time says so; it takes this one once the one
            // before it is done.
            if (result != MIDIERR_NOTREADY || playing_.empty()) break;
            if (!wait_for_room(playing_.size(), length, error)) {
                calls_.midiOutUnprepareHeader(out_, &header, sizeof header);
                return MidiError{MidiErrorKind::server_down, error};
            }
        }
        if (result != MMSYSERR_NOERROR) {
            calls_.midiOutUnprepareHeader(out_, &header, sizeof header);
            return failed(result, length);
        }
        message->due = cable_.schedule(length, 10, true);
        playing_.push_back(std::move(message));
        return std::nullopt;
    }

    void reset() override {
        // The driver hands back every message it holds, marked done.
        calls_.midiOutReset(out_);
        wait_for(event_, Clock::now() + stall_limit_, [&] {
            return std::all_of(playing_.begin(), playing_.end(),
                               [](auto& message) { return header_done(message->header); });
        });
        release_done();
        cable_.free_at = Clock::now();
    }

  private:
    struct Message {
        std::vector<uint8_t> bytes;
        MIDIHDR header{};
        Clock::time_point due;  // when it has left a cable at normal MIDI speed
    };

    // Unprepares the messages the driver is done with, oldest first.
    void release_done() {
        while (!playing_.empty() && header_done(playing_.front()->header)) {
            MIDIHDR& header = playing_.front()->header;
            calls_.midiOutUnprepareHeader(out_, &header, sizeof header);
            playing_.pop_front();
        }
    }

    // Waits until fewer than `limit` messages are in the driver; false with the reason when the
    // driver finished none of them in time.
    bool wait_for_room(size_t limit, size_t length, std::string& error) {
        while (playing_.size() >= limit) {
            const Clock::time_point deadline = playing_.front()->due + stall_limit_;
            const bool done =
                wait_for(event_, deadline, [&] { return header_done(playing_.front()->header); });
            if (!done) {
                error = "The MIDI port " + name_ + " stopped taking data (" +
                        std::to_string(length) + "-byte message).";
                return false;
            }
            release_done();
        }
        return true;
    }

    MidiError failed(MMRESULT result, size_t length) {
        const std::string text = winmm_failure(
            calls_, true,
            "Sending to " + name_ + " failed (" + std::to_string(length) + "-byte message)",
            result);
        return {result == MMSYSERR_NODRIVER ? MidiErrorKind::gone : MidiErrorKind::failed, text};
    }

    WinmmCalls& calls_;
    std::string name_;
    std::chrono::milliseconds stall_limit_;
    HANDLE event_;
    HMIDIOUT out_ = nullptr;
    // The messages in the driver, in the order they were given; called with the output's lock
    // held, so never two writers.
    std::deque<std::unique_ptr<Message>> playing_;
    WireClock cable_;
};

// One device of winmm's input list. The driver calls back on a thread of its own with every
// buffer it returns; the bytes go to the sink there, and the requeue thread gives the buffer back.
class WinmmIn final : public MidiInConnection {
  public:
    WinmmIn(WinmmCalls& calls, MidiInSink& sink, std::string name,
            std::chrono::milliseconds stall_limit)
        : calls_(calls),
          sink_(sink),
          name_(std::move(name)),
          stall_limit_(stall_limit),
          buffers_(std::make_unique<std::array<Buffer, WinmmBackend::in_buffer_count>>()),
          requeue_event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
          back_event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

    ~WinmmIn() override {
        {
            std::lock_guard lock(push_mutex_);
            delivering_ = false;
        }
        bool all_back = true;
        if (in_) all_back = take_buffers_back();
        if (requeuer_.joinable()) {
            quit_.store(true);
            SetEvent(requeue_event_);
            requeuer_.join();
        }
        if (in_) {
            for (Buffer& buffer : *buffers_)
                if (buffer.header.dwFlags & MHDR_PREPARED)
                    calls_.midiInUnprepareHeader(in_, &buffer.header, sizeof buffer.header);
            // Buffers the driver still holds stay allocated: it may still write them.
            if (calls_.midiInClose(in_) != MMSYSERR_NOERROR || !all_back) (void)buffers_.release();
        }
        if (requeue_event_) CloseHandle(requeue_event_);
        if (back_event_) CloseHandle(back_event_);
    }

    bool open(UINT id, std::string& error) {
        const std::string what = "Could not open the MIDI input " + name_;
        if (!requeue_event_ || !back_event_) {
            error = what + ": " + windows_error_reason(GetLastError()) + ".";
            return false;
        }
        MMRESULT result =
            calls_.midiInOpen(&in_, id, reinterpret_cast<DWORD_PTR>(&WinmmIn::arrived),
                              reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
        if (result != MMSYSERR_NOERROR) {
            in_ = nullptr;
            error = winmm_failure(calls_, false, what, result);
            return false;
        }
        for (size_t i = 0; i < buffers_->size(); ++i) {
            Buffer& buffer = (*buffers_)[i];
            buffer.header.lpData = reinterpret_cast<LPSTR>(buffer.bytes.data());
            buffer.header.dwBufferLength = static_cast<DWORD>(buffer.bytes.size());
            buffer.header.dwUser = i;
            result = calls_.midiInPrepareHeader(in_, &buffer.header, sizeof buffer.header);
            if (result != MMSYSERR_NOERROR) {
                error = winmm_failure(calls_, false, what, result);
                return false;
            }
        }
        requeuer_ = std::thread([this] { requeue_loop(); });
        return true;
    }

    std::optional<MidiError> start() override {
        {
            std::lock_guard lock(queue_mutex_);
            requeue_ = true;
            const MMRESULT result = queue_returned();
            if (result != MMSYSERR_NOERROR) {
                requeue_ = false;
                return MidiError{MidiErrorKind::refused,
                                 winmm_failure(calls_, false,
                                               "Could not start the MIDI input " + name_, result)};
            }
        }
        {
            std::lock_guard lock(push_mutex_);
            delivering_ = true;
        }
        const MMRESULT result = calls_.midiInStart(in_);
        if (result != MMSYSERR_NOERROR) {
            stop();
            return MidiError{
                MidiErrorKind::refused,
                winmm_failure(calls_, false, "Could not start the MIDI input " + name_, result)};
        }
        return std::nullopt;
    }

    void stop() override {
        // What the buffers hold when the device stops still reaches the sink; nothing after.
        calls_.midiInStop(in_);
        take_buffers_back();
        std::lock_guard lock(push_mutex_);
        delivering_ = false;
    }

  private:
    struct Buffer {
        std::array<uint8_t, in_buffer_size> bytes{};
        MIDIHDR header{};
        std::atomic<bool> with_us{true};  // not queued at the driver
    };

    // Every buffer back from the driver (a reset returns them all); false when one did not come
    // back in time.
    bool take_buffers_back() {
        {
            std::lock_guard lock(queue_mutex_);
            requeue_ = false;
        }
        calls_.midiInReset(in_);
        return wait_for(back_event_, Clock::now() + stall_limit_, [&] {
            return std::all_of(buffers_->begin(), buffers_->end(),
                               [](const Buffer& buffer) { return buffer.with_us.load(); });
        });
    }

    // Queues every buffer that is back; with queue_mutex_ held.
    MMRESULT queue_returned() {
        for (Buffer& buffer : *buffers_) {
            if (!buffer.with_us.load()) continue;
            buffer.with_us.store(false);
            const MMRESULT result =
                calls_.midiInAddBuffer(in_, &buffer.header, sizeof buffer.header);
            if (result != MMSYSERR_NOERROR) {
                buffer.with_us.store(true);
                return result;
            }
        }
        return MMSYSERR_NOERROR;
    }

    void requeue_loop() {
        while (!quit_.load()) {
            WaitForSingleObject(requeue_event_, INFINITE);
            std::lock_guard lock(queue_mutex_);
            // A buffer the driver refuses now is lost to this input until it starts again.
            if (requeue_ && queue_returned() != MMSYSERR_NOERROR) {
                std::lock_guard push_lock(push_mutex_);
                if (delivering_) sink_.mark_lost();
            }
        }
    }

    // The driver's callback: only the sink, a lock and events here, as winmm asks.
    static void CALLBACK arrived(HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                 DWORD_PTR) {
        if (message != MIM_LONGDATA && message != MIM_LONGERROR) return;
        auto& self = *reinterpret_cast<WinmmIn*>(instance);
        auto& header = *reinterpret_cast<MIDIHDR*>(param1);
        if (header.dwUser >= self.buffers_->size()) return;
        {
            std::lock_guard lock(self.push_mutex_);
            if (self.delivering_ && header.dwBytesRecorded > 0)
                self.sink_.push(reinterpret_cast<const uint8_t*>(header.lpData),
                                header.dwBytesRecorded);
        }
        (*self.buffers_)[header.dwUser].with_us.store(true);
        SetEvent(self.requeue_event_);
        SetEvent(self.back_event_);
    }

    WinmmCalls& calls_;
    MidiInSink& sink_;
    std::string name_;
    std::chrono::milliseconds stall_limit_;
    std::unique_ptr<std::array<Buffer, WinmmBackend::in_buffer_count>> buffers_;
    HANDLE requeue_event_;
    HANDLE back_event_;
    HMIDIIN in_ = nullptr;
    std::thread requeuer_;
    std::atomic<bool> quit_{false};
    // The callback pushes only while delivering_; never waits on queue_mutex_, which is held
    // around midiInAddBuffer.
    std::mutex push_mutex_;
    bool delivering_ = false;
    std::mutex queue_mutex_;
    bool requeue_ = false;
};

std::string error_text(WinmmCalls& calls, bool output, MMRESULT result) {
    std::array<wchar_t, MAXERRORLENGTH> text{};
    const MMRESULT got =
        output ? calls.midiOutGetErrorTextW(result, text.data(), static_cast<UINT>(text.size()))
               : calls.midiInGetErrorTextW(result, text.data(), static_cast<UINT>(text.size()));
    std::string said = got == MMSYSERR_NOERROR
                           ? from_wide(text.data(), wcsnlen(text.data(), text.size()))
                           : std::string();
    while (!said.empty() &&
           (said.back() == ' ' || said.back() == '.' || said.back() == '\n' || said.back() == '\r'))
        said.pop_back();
    return said.empty() ? "MIDI error " + std::to_string(result) : said;
}

}  // namespace

WinmmCalls& WinmmCalls::system() {
    static SystemWinmm calls;
    return calls;
}

std::string winmm_failure(WinmmCalls& calls, bool output, const std::string& what,
                          MMRESULT result) {
    const std::string text = error_text(calls, output, result);
    if (result == MMSYSERR_NODRIVER) return what + ": the MIDI port is gone (" + text + ").";
    return what + ": " + text + ".";
}

WinmmBackend::WinmmBackend(WinmmCalls& calls, std::chrono::milliseconds stall_limit)
    : calls_(calls), stall_limit_(stall_limit) {}

std::vector<WinmmBackend::Device> WinmmBackend::devices(bool output) {
    std::vector<Device> list;
    std::vector<std::string> names;
    const UINT count = output ? calls_.midiOutGetNumDevs() : calls_.midiInGetNumDevs();
    for (UINT id = 0; id < count; ++id) {
        std::wstring name;
        if (output) {
            MIDIOUTCAPSW caps{};
            if (calls_.midiOutGetDevCapsW(id, &caps, sizeof caps) != MMSYSERR_NOERROR) continue;
            name.assign(caps.szPname, wcsnlen(caps.szPname, MAXPNAMELEN));
        } else {
            MIDIINCAPSW caps{};
            if (calls_.midiInGetDevCapsW(id, &caps, sizeof caps) != MMSYSERR_NOERROR) continue;
            name.assign(caps.szPname, wcsnlen(caps.szPname, MAXPNAMELEN));
        }
        list.push_back({id, {}});
        names.push_back(from_wide(name));
    }
    number_repeated_names(names);
    for (size_t i = 0; i < list.size(); ++i) list[i].name = std::move(names[i]);
    return list;
}

bool WinmmBackend::device_at(bool output, int index, Device& device, std::string& error) {
    const std::vector<Device> list = devices(output);
    if (index < 0 || index >= static_cast<int>(list.size())) {
        error =
            std::string("There is no MIDI ") + (output ? "output" : "input") + " with this number.";
        return false;
    }
    device = list[index];
    return true;
}

int WinmmBackend::out_count() {
    return static_cast<int>(devices(true).size());
}

std::string WinmmBackend::out_name(int index) {
    Device device;
    std::string ignored;
    return device_at(true, index, device, ignored) ? device.name : std::string();
}

int WinmmBackend::in_count() {
    return static_cast<int>(devices(false).size());
}

std::string WinmmBackend::in_name(int index) {
    Device device;
    std::string ignored;
    return device_at(false, index, device, ignored) ? device.name : std::string();
}

std::unique_ptr<MidiOutConnection> WinmmBackend::open_out(int index, std::string& error) {
    Device device;
    if (!device_at(true, index, device, error)) return nullptr;
    auto out = std::make_unique<WinmmOut>(calls_, device.name, stall_limit_);
    if (!out->open(device.id, error)) return nullptr;
    return out;
}

std::unique_ptr<MidiInConnection> WinmmBackend::open_in(int index, MidiInSink& sink,
                                                        std::string& error) {
    Device device;
    if (!device_at(false, index, device, error)) return nullptr;
    auto in = std::make_unique<WinmmIn>(calls_, sink, device.name, stall_limit_);
    if (!in->open(device.id, error)) return nullptr;
    return in;
}

std::unique_ptr<MidiOutConnection> WinmmBackend::open_virtual_out(const std::string&,
                                                                  std::string& error) {
    error = "The Windows MIDI service has no ports of a program's own.";
    return nullptr;
}

std::unique_ptr<MidiInConnection> WinmmBackend::open_virtual_in(const std::string&, MidiInSink&,
                                                                std::string& error) {
    error = "The Windows MIDI service has no ports of a program's own.";
    return nullptr;
}

std::string WinmmBackend::virtual_port_name(const std::string& port_name, bool) const {
    return port_name;
}

}  // namespace jx
