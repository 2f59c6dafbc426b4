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
}  // namespace

void register_command(const Command& command) { registry().push_back(command); }
const std::vector<Command>& commands() { return registry(); }

int fail(const std::string& command, const std::string& message)
{
    std::fprintf(stderr, "tqz %s: %s\n", command.c_str(), message.c_str());
    return 1;
}

}  // namespace tqz

static void print_usage(FILE* out)
{
    std::fprintf(out, "usage: tqz <command> [options]\n\ncommands:\n");
    for (const auto& command : tqz::commands()) {
        std::fprintf(out, "  %s\n", command.usage);
    }
    std::fprintf(out, "  version\n");
}

int main(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0) {
        print_usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const std::string name = argv[1];
    if (name == "version" || name == "--version") {
        std::printf("%s\n", VELKOR::LidarTQ::api_info().c_str());
        return 0;
    }
    for (const auto& command : tqz::commands()) {
        if (name == command.name) {
            return command.run(tqz::Args(argv + 2, argv + argc));
        }
    }
    std::fprintf(stderr, "tqz: unknown command '%s' (try 'tqz help')\n", name.c_str());
    return 2;
}
