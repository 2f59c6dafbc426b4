#include <cstdio>
#include <cstring>
#include <string>

#include "api/lidar_tq.hpp"
#include "command.hpp"

namespace tqz {

namespace {
std::vector<Command>& registry()
{
    static std::vector<Command> list;
    return list;
}
} // namespace

void register_command(const Command& command) { registry().push_back(command); }
const std::vector<Command>& commands() { return registry(); }

int fail(const std::string& command, const std::string& message)
{
    std::fprintf(stderr, "tqz %s: %s\n", command.c_str(), message.c_str());
    return kExitFailure;
}

int usage_error(const std::string& command, const std::string& message)
{
    fail(command, message);
    return kExitUsage;
}

} // namespace tqz

namespace {

const char kSummary[] = "tqz - command-line tool of the TQ-Z LiDAR: a simulated sensor, streaming,\n"
                        "recording, recordings' contents and export, settings and firmware.\n";

const char kExitCodes[] = "Exit status:\n"
                          "  0    success\n"
                          "  1    failure at run time (the sensor, a file or the network)\n"
                          "  2    bad usage (an unknown option, a missing or bad value)\n"
                          "  130  interrupted by Ctrl-C (143 by SIGTERM) before the work was done\n";

void print_usage(FILE* out)
{
    std::fprintf(out, "Usage: tqz COMMAND [OPTIONS]\n\n%s\nCommands:\n", kSummary);
    for (const auto& command : tqz::commands()) {
        std::fprintf(out, "  %s\n", command.usage);
    }
    std::fprintf(out, "  help [COMMAND]  this text, or a command's options\n"
                      "  version  the libraries' version and build\n"
                      "\n"
                      "Options:\n"
                      "  --help     this text ('tqz COMMAND --help': the command's options)\n"
                      "  --version  the libraries' version\n"
                      "\n%s",
                 kExitCodes);
}

const tqz::Command* find_command(const std::string& name)
{
    for (const auto& command : tqz::commands()) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

bool asks_for_help(const tqz::Args& args)
{
    for (const auto& arg : args) {
        if (arg == "--help" || arg == "-h") {
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        print_usage(stderr);
        return tqz::kExitUsage;
    }
    const std::string name = argv[1];
    const tqz::Args args(argv + 2, argv + argc);
    if (name == "help" || name == "--help" || name == "-h") {
        if (name == "help" && !args.empty()) {
            const tqz::Command* command = find_command(args[0]);
            if (command == nullptr) {
                std::fprintf(stderr, "tqz: unknown command '%s' (try 'tqz help')\n", args[0].c_str());
                return tqz::kExitUsage;
            }
            std::fputs(command->help, stdout);
            return tqz::kExitOk;
        }
        print_usage(stdout);
        return tqz::kExitOk;
    }
    if (name == "--version") {
        std::printf("tqz %s\n", VELKOR::LidarTQ::version().c_str());
        return tqz::kExitOk;
    }
    if (name == "version") {
        std::printf("%s\n", VELKOR::LidarTQ::api_info().c_str());
        return tqz::kExitOk;
    }
    const tqz::Command* command = find_command(name);
    if (command == nullptr) {
        std::fprintf(stderr, "tqz: unknown command '%s' (try 'tqz help')\n", name.c_str());
        return tqz::kExitUsage;
    }
    if (asks_for_help(args)) {
        std::fputs(command->help, stdout);
        return tqz::kExitOk;
    }
    return command->run(args);
}
