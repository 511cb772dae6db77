// amiga-peer: an emulated Amiga-side server for tests and demonstrations. It serves host folders
// as volumes and host files as image items over TCP/IP or a pseudo-terminal.
#include "core/crc32.h"
#include "core/shared_settings_section.h"
#include "peer/fault_link.h"
#include "peer/peer_session.h"
#include "peer/pty_link.h"
#include "peer/socket_link.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <termios.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace dm;
using namespace dm::peer;

constexpr char kUsage[] =
    "Usage: amiga-peer [options]\n"
    "Serves host folders and image files to the PC side as an Amiga would.\n"
    "\n"
    "Drives (at least one):\n"
    "  --volume DEV[:NAME]=DIR    a hard-disk volume; NAME defaults to the folder's name\n"
    "  --floppy DEV[:NAME][=DIR]  a floppy drive with DIR as its disk, or empty\n"
    "  --adf DEV=FILE             the disk image item of a drive\n"
    "  --hdf DEV=FILE             the partition image item of a drive\n"
    "  --rom FILE                 the ROM image item\n"
    "  --formattable DEV          let the PC format volume DEV (floppy disks always may)\n"
    "  --capacity DEV=SIZE        a fixed capacity in bytes (K and M suffixes), enforced\n"
    "  --format-step-ms N         take N ms over each format step, as a real drive does\n"
    "\n"
    "Connection:\n"
    "  --listen ADDR:PORT         TCP/IP address (default 127.0.0.1:356)\n"
    "  --port-file FILE           write the port listened on, for --listen 127.0.0.1:0\n"
    "  --password TEXT            the password the PC must identify with (default Vormantic)\n"
    "  --pty LINK                 serve a pseudo-terminal instead; LINK points at its other end\n"
    "  --device PATH              serve an existing terminal device (a serial line) instead\n"
    "  --record-raw FILE          on --device, first copy the raw bytes that arrive to FILE...\n"
    "  --raw-count-file FILE      ...until as many as FILE names have come (as Setup sends)\n"
    "  --baud N                   pace the pseudo-terminal to N baud\n"
    "  --packet-size N            largest file packet sent, 5 to 65535 (default 512)\n"
    "  --once                     exit when the first connection ends\n"
    "  --escaped-names            (tests) %XX escapes in host names (of \"%\", \"/\", control\n"
    "                             characters, dot-only names) reach the PC undone: a hostile side\n"
    "  --log FILE                 write the diagnostic log to FILE\n"
    "  --faults LIST              inject faults: bits=P,answers=P,lost=P,damaged=P,drop=P,\n"
    "                             delay=MS\n"
    "  --seed N                   seed of the injected faults (default 1)\n"
    "  --line-recovery            recover lost answer words as the PC side does; without it\n"
    "                             the protocol runs exactly as written, as on a real Amiga\n";

struct Options {
    std::vector<DriveConfig> drives;
    std::vector<std::string> formattable;
    std::map<std::string, uint64_t> capacities;
    std::string listen = "127.0.0.1:356";
    std::string portFile;
    std::string password = "Vormantic";
    std::string pty;
    std::string device;
    std::string recordRaw;
    std::string rawCountFile;
    uint32_t baud = 0;
    uint32_t packetSize = 512;
    uint32_t formatStepMs = 0;
    bool once = false;
    bool lineRecovery = false;
    bool escapedNames = false;
    std::string log;
    FaultPlan faults;
    uint64_t seed = 1;
};

char g_ptyLink[4096];

void OnSignal(int)
{
    if (g_ptyLink[0])
        unlink(g_ptyLink);
    _exit(0);
}

bool Fail(const std::string& message)
{
    std::fprintf(stderr, "amiga-peer: %s\n", message.c_str());
    return false;
}

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t& value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 19)
        return false;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return value <= max;
}

bool ParseSize(std::string text, uint64_t& value)
{
    uint64_t unit = 1;
    if (!text.empty() && (text.back() == 'K' || text.back() == 'k'))
        unit = 1024;
    else if (!text.empty() && (text.back() == 'M' || text.back() == 'm'))
        unit = 1024 * 1024;
    if (unit != 1)
        text.pop_back();
    if (!ParseUnsigned(text, 0xFFFFFFFFu, value) || value * unit > 0xFFFFFFFFu || value == 0)
        return false;
    value *= unit;
    return true;
}

// DEV[:NAME][=PATH]
DriveConfig ParseDrive(ItemKind kind, const std::string& text)
{
    DriveConfig drive;
    drive.kind = kind;
    const size_t equals = text.find('=');
    std::string name = text.substr(0, equals);
    if (equals != std::string::npos)
        drive.hostPath = text.substr(equals + 1);
    const size_t colon = name.find(':');
    if (colon != std::string::npos) {
        drive.label = name.substr(colon + 1);
        name.resize(colon);
    }
    drive.device = name;
    return drive;
}

bool ParseArguments(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (option == "--once") {
            options.once = true;
            continue;
        }
        if (option == "--line-recovery") {
            options.lineRecovery = true;
            continue;
        }
        if (option == "--escaped-names") {
            options.escapedNames = true;
            continue;
        }
        if (i + 1 >= argc)
            return Fail("unknown option or missing value: " + option);
        const std::string value = argv[++i];
        uint64_t number = 0;
        if (option == "--volume") {
            options.drives.push_back(ParseDrive(ItemKind::Volume, value));
        } else if (option == "--floppy") {
            options.drives.push_back(ParseDrive(ItemKind::Floppy, value));
        } else if (option == "--adf" || option == "--hdf") {
            DriveConfig drive =
                ParseDrive(option == "--adf" ? ItemKind::AdfFile : ItemKind::HdfFile, value);
            if (!drive.label.empty() || drive.hostPath.empty())
                return Fail(option + " takes DEV=FILE");
            options.drives.push_back(drive);
        } else if (option == "--rom") {
            DriveConfig drive;
            drive.kind = ItemKind::RomFile;
            drive.hostPath = value;
            options.drives.push_back(drive);
        } else if (option == "--formattable") {
            options.formattable.push_back(value);
        } else if (option == "--capacity") {
            const size_t equals = value.find('=');
            if (equals == std::string::npos || !ParseSize(value.substr(equals + 1), number))
                return Fail("--capacity takes DEV=SIZE, up to 4 GB");
            options.capacities[value.substr(0, equals)] = number;
        } else if (option == "--device") {
            options.device = value;
        } else if (option == "--record-raw") {
            options.recordRaw = value;
        } else if (option == "--raw-count-file") {
            options.rawCountFile = value;
        } else if (option == "--format-step-ms") {
            if (!ParseSize(value, number) || number > 60000)
                return Fail("--format-step-ms takes up to 60000");
            options.formatStepMs = uint32_t(number);
        } else if (option == "--listen") {
            options.listen = value;
        } else if (option == "--port-file") {
            options.portFile = value;
        } else if (option == "--password") {
            options.password = value;
        } else if (option == "--pty") {
            options.pty = value;
        } else if (option == "--baud") {
            if (!ParseUnsigned(value, 10000000, number) || number < 10)
                return Fail("--baud takes a speed of 10 or more");
            options.baud = uint32_t(number);
        } else if (option == "--packet-size") {
            if (!ParseUnsigned(value, 65535, number) || number < 5)
                return Fail("--packet-size takes 5 to 65535");
            options.packetSize = uint32_t(number);
        } else if (option == "--log") {
            options.log = value;
        } else if (option == "--faults") {
            std::string error;
            if (!ParseFaults(value, options.faults, error))
                return Fail(error);
        } else if (option == "--seed") {
            if (!ParseUnsigned(value, UINT64_MAX, options.seed))
                return Fail("--seed takes a number");
        } else {
            return Fail("unknown option: " + option);
        }
    }
    if (options.drives.empty())
        return Fail(
            "nothing to serve: give at least one --volume, --floppy, --adf, --hdf or --rom");
    return true;
}

bool BuildTree(Options& options, ServedTree& tree)
{
    auto servedFolder = [&](const std::string& device) {
        for (const DriveConfig& drive : options.drives) {
            if ((drive.kind == ItemKind::Volume || drive.kind == ItemKind::Floppy) &&
                drive.device == device)
                return true;
        }
        return false;
    };
    for (const std::string& device : options.formattable) {
        if (!servedFolder(device))
            return Fail("--formattable " + device + ": no such volume");
    }
    for (const auto& [device, capacity] : options.capacities) {
        if (!servedFolder(device))
            return Fail("--capacity " + device + ": no such volume or floppy drive");
    }
    for (DriveConfig& drive : options.drives) {
        for (const std::string& device : options.formattable) {
            if (drive.kind == ItemKind::Volume && drive.device == device)
                drive.formattable = true;
        }
        const auto capacity = options.capacities.find(drive.device);
        if (capacity != options.capacities.end() && drive.kind != ItemKind::AdfFile &&
            drive.kind != ItemKind::HdfFile)
            drive.capacity = capacity->second;
        std::string reason;
        if (!tree.AddDrive(drive, reason))
            return Fail(reason);
    }
    for (const std::string& name : tree.DriveNames())
        std::printf("amiga-peer: serving %s\n", name.c_str());
    return true;
}

std::unique_ptr<Link> WithFaults(std::unique_ptr<Link> link, Options& options)
{
    if (!options.faults.Any())
        return link;
    return std::make_unique<FaultLink>(std::move(link), options.faults, options.seed++);
}

int ServePty(Options& options, RequestHandler& handler)
{
    PtyEndpoint pty;
    std::string error;
    if (!pty.Create(options.pty, error))
        return Fail(error), 1;
    std::snprintf(g_ptyLink, sizeof g_ptyLink, "%s", options.pty.c_str());
    std::printf("amiga-peer: serving on %s (%s)\n", pty.ClientPath().c_str(), options.pty.c_str());
    std::fflush(stdout);
    SessionOptions session;
    session.packetSize = options.packetSize;
    session.lineRecovery = options.lineRecovery;
    KeyVerdict verdict = KeyVerdict::Unknown;  // a serial identification carries no key
    do {
        if (!pty.WaitForClient())
            return Fail("the pseudo-terminal failed"), 1;
        ServeLink(WithFaults(pty.MakeLink(options.baud), options), handler, session, verdict);
    } while (!options.once);
    return 0;
}

// The number the count file names, once it exists and names one.
std::optional<uint64_t> RawCount(const std::string& path)
{
    std::ifstream in(path);
    uint64_t count = 0;
    if (in >> count)
        return count;
    return std::nullopt;
}

// Before the protocol, a bare Amiga's Type command takes what arrives as it is: record it.
bool RecordRaw(int fd, const Options& options)
{
    std::ofstream out(options.recordRaw, std::ios::binary);
    if (!out)
        return Fail("cannot write " + options.recordRaw);
    uint64_t recorded = 0;
    for (;;) {
        const std::optional<uint64_t> wanted = RawCount(options.rawCountFile);
        if (wanted && recorded >= *wanted)
            return true;
        pollfd ready {fd, POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0)
            continue;
        char buffer[4096];
        // Never past the count, so that the protocol's first bytes stay on the line.
        size_t want = sizeof buffer;
        if (wanted)
            want = size_t(std::min<uint64_t>(want, *wanted - recorded));
        const ssize_t got = read(fd, buffer, want);
        if (got < 0 && errno != EAGAIN && errno != EINTR)
            return Fail("the line failed while recording");
        if (got > 0) {
            out.write(buffer, got);
            out.flush();
            recorded += uint64_t(got);
        }
    }
}

int ServeDevice(Options& options, RequestHandler& handler)
{
    const int fd = open(options.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Fail("cannot open " + options.device), 1;
    termios mode {};
    if (tcgetattr(fd, &mode) == 0) {
        cfmakeraw(&mode);
        tcsetattr(fd, TCSANOW, &mode);
    }
    if (!options.recordRaw.empty() && !RecordRaw(fd, options))
        return close(fd), 1;
    std::printf("amiga-peer: serving on %s\n", options.device.c_str());
    std::fflush(stdout);
    SessionOptions session;
    session.packetSize = options.packetSize;
    session.lineRecovery = options.lineRecovery;
    KeyVerdict verdict = KeyVerdict::Unknown;
    do {
        auto link = std::make_unique<FdLink>(fd, false, LinkKind::Serial, options.device);
        link->SetTimeouts(5000, 1.0416666f);
        ServeLink(WithFaults(std::move(link), options), handler, session, verdict);
    } while (!options.once);
    close(fd);
    return 0;
}

int ServeTcp(Options& options, RequestHandler& handler)
{
    std::string host = options.listen, port;
    const size_t colon = host.find_last_of(':');
    if (colon == std::string::npos)
        return Fail("--listen takes ADDR:PORT"), 1;
    port = host.substr(colon + 1);
    host.resize(colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    uint64_t portNumber = 0;
    if (host.empty() || !ParseUnsigned(port, 65535, portNumber))
        return Fail("--listen takes ADDR:PORT with an explicit address"), 1;

    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || !found)
        return Fail("cannot resolve " + host), 1;
    const int listener = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (listener >= 0)
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const bool bound = listener >= 0 && bind(listener, found->ai_addr, found->ai_addrlen) == 0 &&
                       listen(listener, 4) == 0;
    freeaddrinfo(found);
    if (!bound)
        return Fail("cannot listen on " + options.listen + ": " + std::strerror(errno)), 1;

    sockaddr_storage local {};
    socklen_t length = sizeof local;
    getsockname(listener, reinterpret_cast<sockaddr*>(&local), &length);
    char service[16] = "?";
    getnameinfo(reinterpret_cast<sockaddr*>(&local), length, nullptr, 0, service, sizeof service,
                NI_NUMERICSERV);
    std::printf("amiga-peer: listening on %s port %s\n", host.c_str(), service);
    std::fflush(stdout);
    if (!options.portFile.empty()) {
        const std::string temp = options.portFile + ".tmp";
        std::ofstream(temp) << service << "\n";
        std::rename(temp.c_str(), options.portFile.c_str());
    }

    SessionOptions session;
    session.packetSize = options.packetSize;
    session.lineRecovery = options.lineRecovery;
    session.expectedKey = ComputeCrc32(options.password);
    std::map<std::string, KeyVerdict> verdicts;  // by the PC's address
    while (true) {
        const int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE)
                continue;
            return Fail(std::string("accept failed: ") + std::strerror(errno)), 1;
        }
        const std::string address = PeerAddressOf(connection);
        std::printf("amiga-peer: connection from %s\n", address.c_str());
        std::fflush(stdout);
        ServeLink(WithFaults(std::make_unique<SocketLink>(connection, address), options), handler,
                  session, verdicts[address]);
        std::printf("amiga-peer: %s disconnected\n", address.c_str());
        std::fflush(stdout);
        if (options.once)
            break;
    }
    close(listener);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseArguments(argc, argv, options))
        return 2;
    if (!options.log.empty()) {
        std::snprintf(SharedSection().logPath, sizeof SharedSection().logPath, "%s",
                      options.log.c_str());
        SharedSection().loggingEnabled = 1;
    }
    ServedTree tree;
    tree.SetEscapedNames(options.escapedNames);
    if (!BuildTree(options, tree))
        return 2;
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    RequestHandler handler(tree);
    handler.SetFormatStepTime(options.formatStepMs);
    if (!options.device.empty())
        return ServeDevice(options, handler);
    return options.pty.empty() ? ServeTcp(options, handler) : ServePty(options, handler);
}
