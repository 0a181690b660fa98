#pragma once
// A stand-in for the Windows multimedia MIDI service, with winmm's rules for headers: a header
// must be prepared before it is sent or queued, cannot be unprepared while the driver holds it,
// and a device cannot be closed while it holds one. Breaking a rule is answered as winmm
// answers it and noted in `misuse`. The test plays the driver: it finishes output messages and
// feeds bytes into the queued input buffers, calling the backend's callback as a driver does.
#include <windows.h>
// windows.h first: mmsystem.h needs its types.
#include <mmsystem.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/midi/midi_winmm.h"

namespace jx::test {

class FakeWinmm : public WinmmCalls {
  public:
    using Bytes = std::vector<uint8_t>;
    using Clock = std::chrono::steady_clock;

    // The devices, by id; the capabilities of the ids in `caps_fail` cannot be read.
    std::vector<std::wstring> outs, ins;
    std::set<UINT> caps_fail;
    // What the calls answer, when not success.
    MMRESULT open_result = MMSYSERR_NOERROR;
    MMRESULT prepare_result = MMSYSERR_NOERROR;
    MMRESULT long_msg_result = MMSYSERR_NOERROR;
    MMRESULT in_open_result = MMSYSERR_NOERROR;
    MMRESULT in_start_result = MMSYSERR_NOERROR;
    // Messages the output driver holds at once; one more is answered MIDIERR_NOTREADY.
    size_t driver_holds = 64;

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> misuse;
    // Output: what was sent, the headers the driver holds, the NOTREADY answers given.
    std::vector<Bytes> written;
    std::deque<MIDIHDR*> playing;
    int not_ready_answers = 0;
    int out_prepared = 0;
    bool out_open = false;
    // Input: the buffers queued, how many the driver returned in all, and the state.
    std::deque<MIDIHDR*> queued;
    int in_returned = 0;
    int in_prepared = 0;
    bool in_open = false;
    bool in_started = false;

    // The driver is done with the `count` oldest messages it holds.
    void finish(size_t count) {
        std::unique_lock lock(mutex);
        for (; count > 0 && !playing.empty(); --count) {
            playing.front()->dwFlags = (playing.front()->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
            playing.pop_front();
        }
        SetEvent(out_event_);
    }

    // Waits until `ready()` holds, under the lock; false at the deadline.
    template <typename Ready>
    bool wait(Ready ready, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, ready);
    }

    // Bytes arriving at the input: SysEx bytes fill the front buffer, which returns at F7 or
    // full; the feed waits (up to a deadline) for a buffer when none is queued. False when none
    // came.
    bool feed(const Bytes& bytes) {
        for (uint8_t byte : bytes) {
            std::unique_lock lock(mutex);
            if (!changed.wait_for(lock, std::chrono::seconds(10), [&] { return !queued.empty(); }))
                return false;
            MIDIHDR& front = *queued.front();
            front.lpData[front.dwBytesRecorded++] = static_cast<char>(byte);
            if (byte == 0xF7 || front.dwBytesRecorded == front.dwBufferLength)
                return_front(MIM_LONGDATA, lock);
        }
        return true;
    }

    // Returns the front input buffer with what it holds, as `message`.
    void return_front(UINT message, std::unique_lock<std::mutex>& lock) {
        MIDIHDR* header = queued.front();
        queued.pop_front();
        header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
        ++in_returned;
        lock.unlock();
        in_callback(message, reinterpret_cast<DWORD_PTR>(header));
        lock.lock();
    }

    UINT midiOutGetNumDevs() override { return static_cast<UINT>(outs.size()); }
    MMRESULT midiOutGetDevCapsW(UINT_PTR id, MIDIOUTCAPSW* caps, UINT) override {
        if (id >= outs.size() || caps_fail.count(static_cast<UINT>(id))) return MMSYSERR_NODRIVER;
        wcsncpy(caps->szPname, outs[id].c_str(), MAXPNAMELEN - 1);
        return MMSYSERR_NOERROR;
    }
    MMRESULT midiOutOpen(HMIDIOUT* out, UINT id, DWORD_PTR callback, DWORD_PTR,
                         DWORD flags) override {
        if (flags != CALLBACK_EVENT) note("output opened without its event");
        if (open_result != MMSYSERR_NOERROR) return open_result;
        if (id >= outs.size()) return MMSYSERR_BADDEVICEID;
        std::lock_guard lock(mutex);
        out_open = true;
        out_event_ = reinterpret_cast<HANDLE>(callback);
        *out = out_handle();
        SetEvent(out_event_);  // MOM_OPEN
        return MMSYSERR_NOERROR;
    }
    MMRESULT midiOutClose(HMIDIOUT out) override {
        std::lock_guard lock(mutex);
        if (out != out_handle()) return MMSYSERR_INVALHANDLE;
        if (!playing.empty()) {
            misuse.push_back("output closed while the driver holds messages");
            return MIDIERR_STILLPLAYING;
        }
        if (out_prepared > 0) misuse.push_back("output closed with headers prepared");
        out_open = false;
        changed.notify_all();
        return MMSYSERR_NOERROR;
    }
    MMRESULT midiOutPrepareHeader(HMIDIOUT, MIDIHDR* header, UINT) override {
        if (prepare_result != MMSYSERR_NOERROR) return prepare_result;
        std::lock_guard lock(mutex);
        header->dwFlags = MHDR_PREPARED;
        ++out_prepared;
        return MMSYSERR_NOERROR;
    }
    MMRESULT midiOutUnprepareHeader(HMIDIOUT, MIDIHDR* header, UINT) override {
        std::lock_guard lock(mutex);
        if (header->dwFlags & MHDR_INQUEUE) {
            misuse.push_back("output header unprepared while the driver holds it");
            return MIDIERR_STILLPLAYING;
        }
        if (header->dwFlags & MHDR_PREPARED) --out_prepared;
        header->dwFlags &= ~MHDR_PREPARED;
        changed.notify_all();
        return MMSYSERR_NOERROR;
    }
    MMRESULT midiOutLongMsg(HMIDIOUT, MIDIHDR* header, UINT) override {
        std::lock_guard lock(mutex);
        if (!(header->dwFlags & MHDR_PREPARED)) {
            misuse.push_back("long message sent unprepared");
            return MIDIERR_UNPREPARED;
        }
        if (long_msg_result != MMSYSERR_NOERROR) return long_msg_result;
        if (playing.size() >= driver_holds) {
            ++not_ready_answers;
            changed.notify_all();
            return MIDIERR_NOTREADY;
        }
        const auto* data = reinterpret_cast<const uint8_t*>(header->lpData);
        written.emplace_back(data, data + header->dwBufferLength);
        header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
        playing.push_back(header);
        changed.notify_all();
        return MMSYSERR_NOERROR;
    }
    MMRESULT midiOutReset(HMIDIOUT) override {
        finish(playing.size());
        return MMSYSERR_NOERROR;
    }
    MMRESULT midiOutGetErrorTextW(MMRESULT result, LPWSTR text, UINT size) override {
        return error_text(result, text, size);
    }

    UINT midiInGetNumDevs() override { return static_cast<UINT>(ins.size()); }
    MMRESULT midiInGetDevCapsW(UINT_PTR id, MIDIINCAPSW* caps, UINT) override {
        if (id >= ins.size() || caps_fail.count(static_cast<UINT>(id))) return MMSYSERR_NODRIVER;
        wcsncpy(caps->szPname, ins[id].c_str(), MAXPNAMELEN - 1);
        return MMSYSERR_NOERROR;
    }
    MMRESULT midiInOpen(HMIDIIN* in, UINT id, DWORD_PTR callback, DWORD_PTR instance,
                        DWORD flags) override {
        if (flags != CALLBACK_FUNCTION) note("input opened without its callback function");
        if (in_open_result != MMSYSERR_NOERROR) return in_open_result;
        if (id >= ins.size()) return MMSYSERR_BADDEVICEID;
        {
            std::lock_guard lock(mutex);
            in_open = true;
            callback_ = reinterpret_cast<Callback>(callback);
            instance_ = instance;
        }
        *in = in_handle();
        in_callback(MIM_OPEN, 0);
        return MMSYSERR_NOERROR;
    }
    MMRESULT midiInClose(HMIDIIN in) override {
        {
            std::lock_guard lock(mutex);
            if (in != in_handle()) return MMSYSERR_INVALHANDLE;
            if (!queued.empty()) {
                misuse.push_back("input closed while buffers are queued");
                return MIDIERR_STILLPLAYING;
            }
            if (in_prepared > 0) misuse.push_back("input closed with buffers prepared");
            in_open = false;
            changed.notify_all();
        }
        in_callback(MIM_CLOSE, 0);
        return MMSYSERR_NOERROR;
    }
    MMRESULT midiInPrepareHeader(HMIDIIN, MIDIHDR* header, UINT) override {
        std::lock_guard lock(mutex);
        header->dwFlags = MHDR_PREPARED;
        ++in_prepared;
        return MMSYSERR_NOERROR;
    }
    MMRESULT midiInUnprepareHeader(HMIDIIN, MIDIHDR* header, UINT) override {
        std::lock_guard lock(mutex);
        if (header->dwFlags & MHDR_INQUEUE) {
            misuse.push_back("input buffer unprepared while queued");
            return MIDIERR_STILLPLAYING;
        }
        if (header->dwFlags & MHDR_PREPARED) --in_prepared;
        header->dwFlags &= ~MHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }
    MMRESULT midiInAddBuffer(HMIDIIN, MIDIHDR* header, UINT) override {
        std::lock_guard lock(mutex);
        if (!(header->dwFlags & MHDR_PREPARED)) {
            misuse.push_back("input buffer queued unprepared");
            return MIDIERR_UNPREPARED;
        }
        if (header->dwFlags & MHDR_INQUEUE) {
            misuse.push_back("input buffer queued twice");
            return MIDIERR_STILLPLAYING;
        }
        header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
        header->dwBytesRecorded = 0;
        queued.push_back(header);
        changed.notify_all();
        return MMSYSERR_NOERROR;
    }
    MMRESULT midiInStart(HMIDIIN) override {
        if (in_start_result != MMSYSERR_NOERROR) return in_start_result;
        std::lock_guard lock(mutex);
        in_started = true;
        return MMSYSERR_NOERROR;
    }
    MMRESULT midiInStop(HMIDIIN) override {
        // The buffer being filled comes back with what it holds; empty ones stay queued.
        std::unique_lock lock(mutex);
        in_started = false;
        if (!queued.empty() && queued.front()->dwBytesRecorded > 0)
            return_front(MIM_LONGDATA, lock);
        return MMSYSERR_NOERROR;
    }
    MMRESULT midiInReset(HMIDIIN) override {
        std::unique_lock lock(mutex);
        in_started = false;
        while (!queued.empty()) return_front(MIM_LONGDATA, lock);
        changed.notify_all();
        return MMSYSERR_NOERROR;
    }
    MMRESULT midiInGetErrorTextW(MMRESULT result, LPWSTR text, UINT size) override {
        return error_text(result, text, size);
    }

    // The text the fake gives for a result.
    static std::wstring text_of(MMRESULT result) {
        return L"fake winmm error " + std::to_wstring(result);
    }

  private:
    using Callback = void(CALLBACK*)(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

    static HMIDIOUT out_handle() { return reinterpret_cast<HMIDIOUT>(uintptr_t{0x1000}); }
    static HMIDIIN in_handle() { return reinterpret_cast<HMIDIIN>(uintptr_t{0x2000}); }

    void in_callback(UINT message, DWORD_PTR param) {
        if (callback_) callback_(in_handle(), message, instance_, param, 0);
    }
    void note(const std::string& what) {
        std::lock_guard lock(mutex);
        misuse.push_back(what);
    }
    static MMRESULT error_text(MMRESULT result, LPWSTR text, UINT size) {
        const std::wstring said = text_of(result);
        if (said.size() + 1 > size) return MMSYSERR_INVALPARAM;
        std::wmemcpy(text, said.c_str(), said.size() + 1);
        return MMSYSERR_NOERROR;
    }

    HANDLE out_event_ = nullptr;
    Callback callback_ = nullptr;
    DWORD_PTR instance_ = 0;
};

}  // namespace jx::test
