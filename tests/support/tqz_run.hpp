#pragma once

// Runs the tqz binary from tests and captures what it prints.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

extern char** environ;

namespace tqz_run {

struct Result {
    int status = -1; // exit code, -1 when killed by a signal
    std::string out;
    std::string err;
};

inline std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A shell command line, stdout and stderr captured apart.
inline Result shell(const std::string& line)
{
    Result r;
    const std::string err_file =
        std::string(VELKOR_TEST_TMP) + "/tqz_stderr_" + std::to_string(::getpid()) + ".txt";
    const std::string command = line + " 2>" + err_file;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return r;
    }
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) {
        r.out.append(buf, n);
    }
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = slurp(err_file);
    std::remove(err_file.c_str());
    return r;
}

// `tqz ARGS` through the shell.
inline Result tqz(const std::string& args) { return shell(std::string(VELKOR_TQZ_BINARY) + " " + args); }

// The lines of a text, without their line ends.
inline std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// `tqz sim ARGS` in the background on 127.0.0.1, port chosen by the system;
// stopped with SIGTERM on destruction.
class Sim {
public:
    explicit Sim(const std::vector<std::string>& args)
    {
        int fds[2];
        if (pipe(fds) != 0) {
            return;
        }
        std::vector<std::string> words = {VELKOR_TQZ_BINARY, "sim", "--bind", "127.0.0.1", "--port", "0"};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& w : words) {
            argv.push_back(const_cast<char*>(w.c_str()));
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        const int rc = posix_spawn(&pid_, VELKOR_TQZ_BINARY, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fdopen(fds[0], "r");
        if (rc != 0) {
            pid_ = -1;
            return;
        }
        char line[128] = {};
        std::cmatch m;
        if (fgets(line, sizeof line, out_) != nullptr &&
            std::regex_match(line, m, std::regex("listening on 127\\.0\\.0\\.1:([0-9]+)\n"))) {
            port_ = m[1];
        }
    }
    ~Sim() { stop(); }
    Sim(const Sim&) = delete;
    Sim& operator=(const Sim&) = delete;

    // Empty when the simulator did not start.
    const std::string& port() const { return port_; }

    // Stops the simulator; its exit code, -1 when it did not exit by itself.
    int stop()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
            exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (out_ != nullptr) {
            fclose(out_);
            out_ = nullptr;
        }
        return exit_code_;
    }

private:
    pid_t pid_ = -1;
    FILE* out_ = nullptr;
    std::string port_;
    int exit_code_ = -1;
};

} // namespace tqz_run
