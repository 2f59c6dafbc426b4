#pragma once

#include <string>
#include <vector>

namespace tqz {

using Args = std::vector<std::string>;

// A sub-command: gets the arguments after its name, returns the exit code.
using CommandFn = int (*)(const Args& args);

struct Command {
    const char* name;
    const char* usage;  // one line, shown by `tqz help`
    CommandFn run;
};

// Each command file registers itself with a file-scope CommandRegistrar.
void register_command(const Command& command);
const std::vector<Command>& commands();

struct CommandRegistrar {
    explicit CommandRegistrar(const Command& command) { register_command(command); }
};

// Prints "tqz <cmd>: <message>" on stderr and returns the exit code 1.
int fail(const std::string& command, const std::string& message);

}  // namespace tqz
