// drovemark: the command-line client.
#include "cli/client.h"
#include "core/crc32.h"
#include "core/diag_log.h"
#include "core/messages.h"
#include "core/module.h"
#include "link/serial_link.h"
#include "link/tcp_link.h"
#include "protocol/packet_channel.h"

#include <csignal>
#include <cstdio>
#include <iostream>

namespace {

void OnInterrupt(int)
{
    dm::cli::Client::stopRequested = true;
}

std::string LinkMessage(const dm::Link& link)
{
    const char* insert = link.ErrorInsert();
    std::string text = dm::FormatStringById(link.PendingErrorId() ? link.PendingErrorId() : 1000,
                                            dm::ThisModule(), {insert ? insert : ""})
                           .value_or("cannot reach the Amiga");
    for (size_t at; (at = text.find('\r')) != std::string::npos;)
        text.erase(at, 1);
    return text;
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace dm;
    using namespace dm::cli;

    std::string error;
    const std::optional<Options> options =
        ParseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::cerr << "drovemark: " << error << "\nTry 'drovemark --help'.\n";
        return kExitUsage;
    }
    if (options->help) {
        std::cout << kUsage;
        return kExitOk;
    }
    if (!options->logFile.empty()) {
        std::snprintf(SharedSection().logPath, sizeof SharedSection().logPath, "%s",
                      options->logFile.c_str());
        SharedSection().loggingEnabled = 1;
    }

    std::unique_ptr<Link> link;
    if (!options->serialDevice.empty()) {
        auto serial = std::make_unique<SerialLink>(options->serialDevice, options->packetSize);
        serial->SetBaudRate(options->baud);
        link = std::move(serial);
    } else {
        StartSockets();
        auto tcp = std::make_unique<TcpLink>(ComputeCrc32(options->password), options->packetSize);
        tcp->SetAddress(options->host);
        tcp->SetPort(options->port);
        link = std::move(tcp);
    }
    PacketChannel channel(std::move(link), options->packetSize, options->maxRetries);
    if (FAILED(channel.Open())) {
        std::cerr << "drovemark: " << LinkMessage(channel.GetLink()) << "\n";
        return kExitFailed;
    }
    std::signal(SIGINT, OnInterrupt);
    Client client(*options, channel, std::cout, std::cerr);
    const int code = client.Run();
    channel.Close();
    StopSockets();
    return code;
}
