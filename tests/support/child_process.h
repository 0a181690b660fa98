#pragma once
// A program started by a test and watched while it runs: its stdout is read line by line with
// deadlines, its stderr goes to a file, its stdin is a pipe the test writes lines to, and it is
// killed when the test ends, passed or failed.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "temp_dir.h"

namespace jx::test {

class ChildProcess {
  public:
    using Clock = std::chrono::steady_clock;

    ChildProcess(const std::string& program, const std::vector<std::string>& args)
        : program_(program) {
        err_path_ = dir_.file("stderr");
        int pipe_fds[2];
        int in_fds[2];
        if (::pipe(pipe_fds) != 0) return;
        if (::pipe2(in_fds, O_CLOEXEC) != 0) {
            ::close(pipe_fds[0]);
            ::close(pipe_fds[1]);
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::dup2(in_fds[0], 0);
            ::dup2(pipe_fds[1], 1);
            int err = ::open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (err >= 0) ::dup2(err, 2);
            ::close(pipe_fds[0]);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(pipe_fds[1]);
        ::close(in_fds[0]);
        out_fd_ = pipe_fds[0];
        in_fd_ = in_fds[1];
    }
    ~ChildProcess() {
        // Asked to end first, so that it leaves its MIDI server clean; killed when it does not.
        if (running()) stop(SIGTERM, std::chrono::seconds(5));
        if (out_fd_ >= 0) ::close(out_fd_);
        if (in_fd_ >= 0) ::close(in_fd_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads stdout until a line satisfies `wanted` (true) or the deadline or end of output
    // passes (false). Every line read is kept in lines().
    bool wait_for_line(const std::function<bool(const std::string&)>& wanted,
                       std::chrono::milliseconds limit) {
        const Clock::time_point deadline = Clock::now() + limit;
        size_t checked = 0;
        while (true) {
            for (; checked < lines_.size(); ++checked)
                if (wanted(lines_[checked])) return true;
            if (!read_some(deadline)) return false;
        }
    }
    bool wait_for_text(const std::string& text, std::chrono::milliseconds limit) {
        return wait_for_line(
            [&](const std::string& line) { return line.find(text) != std::string::npos; }, limit);
    }

    // Waits for the program to end by itself; its exit status, or -1 when it did not end in
    // time (it is then killed) or ended by a signal.
    int wait_exit(std::chrono::milliseconds limit) {
        const Clock::time_point deadline = Clock::now() + limit;
        while (running() && Clock::now() < deadline) {
            if (out_fd_ >= 0)
                read_some(std::min(deadline, Clock::now() + std::chrono::milliseconds(20)));
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            reap(false);
        }
        if (running()) {
            print_stacks();
            ::kill(pid_, SIGKILL);
            reap(true);
            return -1;
        }
        while (read_some(Clock::now())) {
        }
        return status_;
    }
    // A program that did not end in time shows where each of its threads stands, on the test's
    // error output, when gdb is at hand: a hang seen once under load is otherwise a guess.
    void print_stacks() const {
        if (::access("/usr/bin/gdb", X_OK) != 0) return;
        std::fprintf(stderr, "%s did not end in time; its threads:\n", program_.c_str());
        const std::string command = "/usr/bin/gdb -p " + std::to_string(pid_) +
                                    " -batch -ex 'thread apply all bt' 1>&2 2>/dev/null";
        if (std::system(command.c_str()) != 0) std::fprintf(stderr, "(gdb could not attach)\n");
    }
    // Sends a signal, then waits for the end as wait_exit does.
    int stop(int signal, std::chrono::milliseconds limit) {
        if (running()) ::kill(pid_, signal);
        return wait_exit(limit);
    }
    void signal(int number) {
        if (running()) ::kill(pid_, number);
    }

    // Writes one line (a newline is added) to the program's stdin; false when it could not.
    bool write_line(const std::string& text) {
        if (in_fd_ < 0) return false;
        ::signal(SIGPIPE, SIG_IGN);  // a program that has ended makes the write fail instead
        const std::string line = text + "\n";
        size_t done = 0;
        while (done < line.size()) {
            const ssize_t wrote = ::write(in_fd_, line.data() + done, line.size() - done);
            if (wrote <= 0) return false;
            done += static_cast<size_t>(wrote);
        }
        return true;
    }
    // Ends the program's stdin, as at the end of a file.
    void close_input() {
        if (in_fd_ >= 0) ::close(in_fd_);
        in_fd_ = -1;
    }

    const std::vector<std::string>& lines() const { return lines_; }
    std::string err() const {
        std::vector<uint8_t> bytes = read_file(err_path_);
        return std::string(bytes.begin(), bytes.end());
    }
    bool started() const { return pid_ > 0; }

  private:
    bool running() const { return pid_ > 0 && !ended_; }

    void reap(bool block) {
        int raw = 0;
        if (::waitpid(pid_, &raw, block ? 0 : WNOHANG) == pid_) {
            ended_ = true;
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        }
    }

    // Reads what stdout has until the deadline; false at the deadline or at the end of output.
    bool read_some(Clock::time_point deadline) {
        if (out_fd_ < 0) return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd fd{out_fd_, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(std::max<int64_t>(0, left.count()))) <= 0) return false;
        char buffer[65536];
        const ssize_t got = ::read(out_fd_, buffer, sizeof buffer);
        if (got <= 0) {
            ::close(out_fd_);
            out_fd_ = -1;
            return false;
        }
        partial_.append(buffer, static_cast<size_t>(got));
        size_t end;
        while ((end = partial_.find('\n')) != std::string::npos) {
            lines_.push_back(partial_.substr(0, end));
            partial_.erase(0, end + 1);
        }
        return true;
    }

    TempDir dir_;
    std::string err_path_;
    std::string program_;
    pid_t pid_ = -1;
    int out_fd_ = -1;
    int in_fd_ = -1;
    bool ended_ = false;
    int status_ = -1;
    std::string partial_;
    std::vector<std::string> lines_;
};

}  // namespace jx::test
