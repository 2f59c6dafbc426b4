#pragma once

#include <string>
#include <vector>

namespace tqz {

using Args = std::vector<std::string>;

// A sub-command: gets the arguments after its name, returns the exit code.
using CommandFn = int (*)(const Args& args);

// Exit codes of every command.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1; // the sensor, a file or the network failed
constexpr int kExitUsage = 2;   // an unknown option, a missing or bad value

struct Command {
    const char* name;
    const char* usage; // one line, shown by `tqz help`
    const char* help;  // `tqz <name> --help`: every option with its default
    CommandFn run;
};

// Each command file registers itself with a file-scope CommandRegistrar.
void register_command(const Command& command);
const std::vector<Command>& commands();

struct CommandRegistrar {
    explicit CommandRegistrar(const Command& command) { register_command(command); }
};

// Prints "tqz <cmd>: <message>" on stderr and returns kExitFailure.
int fail(const std::string& command, const std::string& message);
// The same line for a bad command line; returns kExitUsage.
int usage_error(const std::string& command, const std::string& message);

} // namespace tqz
