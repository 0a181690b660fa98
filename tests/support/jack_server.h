#pragma once
// A private JACK server for one test: `jackd` with the dummy driver under a server name of its
// own, so that tests running side by side never meet, and JACK_DEFAULT_SERVER set to it for
// this process and the programs it starts. The server is stopped when the fixture goes away,
// also when the test fails or the test process dies (the server gets SIGTERM with its parent).
#include <jack/jack.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "temp_dir.h"

namespace jx::test {

class JackServer {
  public:
    JackServer() {
        static std::atomic<int> serial{0};
        name_ = "jx-test-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
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
            // dummy driver keeps its timing without it. 256 frames at 48 kHz is a 5.3 ms cycle.
            ::execlp("jackd", "jackd", "-n", name_.c_str(), "--no-realtime", "-d", "dummy", "-r",
                     "48000", "-p", "256", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (pid_ > 0) {
            ::setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
            up_ = wait_until_up(std::chrono::seconds(10));
        }
    }
    ~JackServer() {
        ::unsetenv("JACK_DEFAULT_SERVER");
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        if (!reaped_within(std::chrono::seconds(5))) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
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

  private:
    static void quiet(const char*) {}

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
    bool up_ = false;
};

}  // namespace jx::test
