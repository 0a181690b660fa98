#pragma once
// A private JACK server for one test: `jackd` with the dummy driver under a server name no other
// running test uses, so that tests running side by side never meet, and JACK_DEFAULT_SERVER set
// to it for this process and the programs it starts. The server is stopped when the fixture goes
// away, also when the test fails or the test process dies (the server gets SIGTERM with its
// parent).
#include <fcntl.h>
#include <jack/jack.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "temp_dir.h"

namespace jx::test {

class JackServer {
  public:
    JackServer() {
        // JACK keeps at most eight servers in a registry that outlives them, and frees the entry
        // of a server that died without cleaning up only when a server of the same name starts.
        // So the tests share eight names, each held through a lock file while its server runs.
        for (int slot = 0; slot < 8 && !up_; ++slot) {
            const std::string lock_path = (std::filesystem::temp_directory_path() /
                                           ("jx-test-jack-" + std::to_string(slot) + ".lock"))
                                              .string();
            lock_fd_ = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            if (lock_fd_ < 0) continue;
            if (::flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
                ::close(lock_fd_);
                lock_fd_ = -1;
                continue;
            }
            name_ = "jx-test-" + std::to_string(slot);
            start();
            if (!up_) {
                ::close(lock_fd_);
                lock_fd_ = -1;
            }
        }
    }
    ~JackServer() {
        stop();
        if (lock_fd_ >= 0) ::close(lock_fd_);
    }
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    // True once a client could connect; false when jackd did not come up in time.
    bool up() const { return up_; }
    const std::string& name() const { return name_; }
    // What jackd printed, for the failure message of a test that found it down.
    std::string log() const {
        std::vector<uint8_t> bytes = read_file(log_);
        return std::string(bytes.begin(), bytes.end());
    }

    // The server dies at once, as a crashed one does: no client hears it end in order.
    void kill_now() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    static void quiet(const char*) {}

    void start() {
        log_ = dir_.file("jackd.log");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            std::FILE* log = std::fopen(log_.c_str(), "w");
            if (log) {
                ::dup2(::fileno(log), 1);
                ::dup2(::fileno(log), 2);
            }
            ::setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
            // No real-time scheduling: containers and CI runners rarely grant it, and the
            // dummy driver keeps its timing without it. Synchronous mode with a long client
            // time-out: a client slowed down (a loaded machine, a sanitizer) makes the cycle late
            // instead of missing it, which would drop its MIDI data as a real-time server does.
            // 256 frames at 48 kHz is a 5.3 ms cycle.
            ::execlp("jackd", "jackd", "-n", name_.c_str(), "--no-realtime", "--sync", "-t",
                     "10000", "-d", "dummy", "-r", "48000", "-p", "256",
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (pid_ > 0) {
            ::setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
            // The programs under test would take the ALSA sequencer where one exists.
            ::setenv("JX_MIDI_API", "jack", 1);
            up_ = wait_until_up(std::chrono::seconds(10));
            if (!up_) stop();
        }
    }

    // Asks the server to end and waits for it; a server that does not end is killed.
    void stop() {
        ::unsetenv("JACK_DEFAULT_SERVER");
        ::unsetenv("JX_MIDI_API");
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        if (!reaped_within(std::chrono::seconds(10))) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

    bool wait_until_up(std::chrono::milliseconds limit) {
        jack_set_error_function(quiet);
        jack_set_info_function(quiet);
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return false;
            }
            jack_status_t status;
            jack_client_t* probe = jack_client_open(
                "jx-probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                &status, name_.c_str());
            if (probe) {
                jack_client_close(probe);
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    bool reaped_within(std::chrono::milliseconds limit) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    TempDir dir_;
    std::string name_;
    std::string log_;
    pid_t pid_ = -1;
    int lock_fd_ = -1;
    bool up_ = false;
};

}  // namespace jx::test
