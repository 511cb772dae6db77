// The command line of the drovemark client.
#pragma once

#include "protocol/connection_profile.h"

#include <optional>
#include <string>
#include <vector>

namespace dm::cli {

// The connection, then what the command itself takes.
struct Options : ConnectionProfile {
    bool recursive = false;
    bool assumeYes = false;  // answer every question with yes (also when not on a terminal)
    bool quick = false;      // format
    bool bootable = false;   // format
    bool fastFileSystem = false;
    bool help = false;
    uint32_t waitSeconds = 20;  // for another program that holds the connection
    std::string command;
    std::vector<std::string> arguments;
};

// The options, or none with `error` set when the command line is not understood. The
// connection options start from `base` (config file and environment); a host or port given
// without --serial chooses TCP/IP over a serial device of `base`.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error,
                                    const ConnectionProfile& base = {});

// The connection the options describe.
ConnectionProfile ProfileOf(const Options& options);

extern const char kUsage[];

}  // namespace dm::cli
