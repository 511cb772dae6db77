#include "cli/options.h"

#include <cstdlib>

namespace dm::cli {

const char kUsage[] = R"(Usage: drovemark [OPTIONS] COMMAND [ARGS]

Moves files between this computer and an Amiga running the Drovemark server, over TCP/IP or a
null-modem serial cable. Amiga paths are written as on the Amiga: by volume name (Work:Devs/file)
or by device (DH0:Devs/file); items at the top level (ROM and disk images) by their name.

Commands:
  ls [PATH]                   list the volumes, or a drawer
  get REMOTE [LOCAL]          copy an Amiga file (or an image item) to this computer (drawers
                              with -r); an existing file is replaced only with --yes
  put LOCAL... DESTFOLDER     copy files to an Amiga drawer (folders with -r); an existing
                              Amiga file is replaced only with --yes; one disk image put on an
                              image item (DF0.adf) is written to that disk
  rm PATH                     delete a file or an empty drawer
  mv PATH DESTFOLDER          move within the Amiga
  cp PATH DESTFOLDER          copy within the Amiga
  mkdir PATH                  create a drawer
  rename PATH NEWNAME         rename
  protect PATH BITS           set protection bits: letters of hsparwed for exactly those (rwed),
                              or +e / -w to change some
  comment PATH TEXT           set the comment
  count PATH                  count the drawers, files and bytes below a drawer
  format DEVICE NAME          erase a disk (DF0:) and name it
  use                         Windows: make the Explorer folder use this connection

Options:
  --host ADDRESS              Amiga's TCP/IP address or host name (default 127.0.0.1)
  --port N                    TCP port (default 356)
  --password TEXT             TCP/IP password (default the preset one)
  --serial DEVICE             use the serial line on DEVICE (COM1, /dev/ttyUSB0) instead of TCP/IP
  --baud N                    serial speed (default 19200)
  --packet-size N             largest packet sent to the Amiga (default 512)
  --retries N                 retransmission requests before giving up (default 50)
  --log FILE                  write a diagnostic log of the connection
  --wait SECONDS              how long to wait while another program uses the connection
                              (default 20)
  -r, --recursive             get, put: copy drawers and folders with their contents;
                              rm: a drawer with everything in it
  -y, --yes                   answer every question with yes: replace existing files, format
  --quick, --bootable, --ffs  format: quick format, add a boot block, Fast File System
  -h, --help                  show this text
  --                          what follows is an argument, even if it starts with "-"

The connection options may also come from the environment (DROVEMARK_HOST, DROVEMARK_PORT,
DROVEMARK_PASSWORD, DROVEMARK_SERIAL, DROVEMARK_BAUD) and from ~/.config/drovemark/config, with
lines such as "host = 192.168.1.20" (keys host, port, password, serial, baud, packet-size,
retries, log). The command line wins over the environment, which wins over the file. Only one
program talks to the Amiga at a time (drovemark or the Explorer folder); another waits for it.

Names and comments on the Amiga are ISO-8859-1: they are shown and taken in this terminal's
encoding, and a name with a character that ISO-8859-1 lacks is refused, never sent changed.

Exit status: 0 everything was done, 1 something failed or was skipped (a file that was not
replaced), 2 the command line is wrong.
)";

namespace {

bool ParseNumber(const std::string& text, uint32_t max, uint32_t& value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long long parsed = std::strtoull(text.c_str(), nullptr, 10);
    if (parsed > max)
        return false;
    value = uint32_t(parsed);
    return true;
}

}  // namespace

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error,
                                    const ConnectionProfile& base)
{
    Options options;
    static_cast<ConnectionProfile&>(options) = base;
    bool serialGiven = false, tcpGiven = false, endOfOptions = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        auto number = [&](uint32_t max, uint32_t& out) {
            std::string text;
            if (!value(text))
                return false;
            if (!ParseNumber(text, max, out)) {
                error = arg + ": not a number in range: " + text;
                return false;
            }
            return true;
        };
        uint32_t n = 0;
        if (arg == "--" && !endOfOptions) {
            endOfOptions = true;
        } else if (endOfOptions || (!options.command.empty() &&
                                    (arg.empty() || arg[0] != '-' || arg == "-"))) {
            if (options.command.empty())
                options.command = arg;
            else
                options.arguments.push_back(arg);
        } else if (options.command == "protect" && options.arguments.size() == 1) {
            options.arguments.push_back(arg);  // the bits, even -r or -h
        } else if (arg == "--host") {
            if (!value(options.host))
                return std::nullopt;
            tcpGiven = true;
        } else if (arg == "--port") {
            if (!number(65535, n))
                return std::nullopt;
            if (n == 0) {
                error = "--port must be 1 to 65535";
                return std::nullopt;
            }
            options.port = uint16_t(n);
            tcpGiven = true;
        } else if (arg == "--password") {
            if (!value(options.password))
                return std::nullopt;
        } else if (arg == "--serial") {
            if (!value(options.serialDevice))
                return std::nullopt;
            serialGiven = true;
        } else if (arg == "--baud") {
            if (!number(4000000, options.baud))
                return std::nullopt;
        } else if (arg == "--packet-size") {
            if (!number(65535, options.packetSize))
                return std::nullopt;
            if (options.packetSize < 5) {
                error = "--packet-size must be at least 5";
                return std::nullopt;
            }
        } else if (arg == "--retries") {
            if (!number(100000, options.maxRetries))
                return std::nullopt;
        } else if (arg == "--log") {
            if (!value(options.logFile))
                return std::nullopt;
            if (options.logFile.size() > ConnectionProfile::kMaxTextLength) {
                error = "--log: the path is too long";
                return std::nullopt;
            }
        } else if (arg == "--wait") {
            if (!number(3600, options.waitSeconds))
                return std::nullopt;
        } else if (arg == "-r" || arg == "--recursive") {
            options.recursive = true;
        } else if (arg == "-y" || arg == "--yes") {
            options.assumeYes = true;
        } else if (arg == "--quick") {
            options.quick = true;
        } else if (arg == "--bootable") {
            options.bootable = true;
        } else if (arg == "--ffs") {
            options.fastFileSystem = true;
        } else if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (!options.command.empty()) {
            options.arguments.push_back(arg);  // such as "-w" for protect
        } else if (!arg.empty() && arg[0] == '-') {
            error = "unknown option " + arg;
            return std::nullopt;
        } else {
            options.command = arg;
        }
    }
    if (options.command.empty() && !options.help) {
        error = "no command given";
        return std::nullopt;
    }
    if (tcpGiven && !serialGiven)
        options.serialDevice.clear();
    return options;
}

ConnectionProfile ProfileOf(const Options& options)
{
    return options;
}

}  // namespace dm::cli
