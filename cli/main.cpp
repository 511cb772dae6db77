// drovemark: the command-line client.
#include "cli/client.h"
#include "cli/explorer_connection.h"
#include "core/messages.h"
#include "core/module.h"
#include "link/tcp_link.h"
#include "protocol/connection_profile.h"
#include "protocol/remote_session.h"

#include <csignal>
#include <cstdio>
#include <iostream>

namespace {

void OnInterrupt(int)
{
    dm::cli::Client::stopRequested = true;
}

// The session's messages go to standard error, one line each.
void PrintMessage(UINT id, const std::string& insert)
{
    std::string text =
        dm::FormatStringById(id, dm::ThisModule(), {insert}).value_or("cannot reach the Amiga");
    for (size_t at; (at = text.find('\r')) != std::string::npos;)
        text.erase(at, 1);
    std::cerr << "drovemark: " << text << "\n";
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace dm;
    using namespace dm::cli;

    ConnectionProfile base;
    const std::vector<std::string> problems = LoadUserProfile(base);
    std::string error;
    const std::optional<Options> options =
        ParseOptions(std::vector<std::string>(argv + 1, argv + argc), error, base);
    if (!options) {
        std::cerr << "drovemark: " << error << "\nTry 'drovemark --help'.\n";
        return kExitUsage;
    }
    if (options->help) {
        std::cout << kUsage;
        return kExitOk;
    }
    if (!problems.empty()) {
        for (const std::string& problem : problems)
            std::cerr << "drovemark: " << problem << "\n";
        return kExitUsage;
    }

    const ConnectionProfile profile = ProfileOf(*options);
    // Only settings are written: the Amiga need not be reachable.
    if (options->command == "use") {
        if (!options->arguments.empty()) {
            std::cerr << "drovemark: use takes no arguments\n";
            return kExitUsage;
        }
#ifdef _WIN32
        if (UseInExplorer(profile))
            return kExitOk;
        std::cerr << "drovemark: the settings could not be written\n";
        return kExitFailed;
#else
        std::cerr << "drovemark: use sets up the Explorer folder and works only on Windows\n";
        return kExitFailed;
#endif
    }
    if (profile.serialDevice.empty())
        StartSockets();
    RemoteSession& session = RemoteSession::Process();
    RemoteSession::Config config;
    config.load = [profile](ConnectionSettings& settings) {
        return settings.LoadProfile(profile);
    };
    config.show = PrintMessage;
    session.Configure(std::move(config));

    // The whole command is one operation: another drovemark waits until it is done.
    session.AddRef();
    PacketChannel* channel = session.Open(true);
    int code = kExitFailed;
    if (channel) {
        std::signal(SIGINT, OnInterrupt);
        Client client(*options, *channel, std::cout, std::cerr);
        code = client.Run();
        session.Close();
    }
    session.Release();
    StopSockets();
    return code;
}
