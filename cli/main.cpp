// drovemark: the command-line client.
#include "cli/client.h"
#include "cli/explorer_connection.h"
#include "core/messages.h"
#include "core/module.h"
#include "link/tcp_link.h"
#include "protocol/connection_lock.h"
#include "protocol/connection_profile.h"
#include "protocol/remote_session.h"
#include "resources/string_ids.h"

#include <csignal>
#include <cstdio>
#include <iostream>

namespace {

void OnInterrupt(int)
{
    dm::cli::Client::stopRequested = true;
}

std::string Describe(const dm::ConnectionProfile& profile)
{
    if (!profile.serialDevice.empty())
        return "the serial line " + profile.serialDevice;
    return "TCP/IP " + profile.host + " port " + std::to_string(profile.port);
}

dm::ConnectionProfile g_profile;
uint32_t g_waitSeconds = 0;

// The session's messages go to standard error, one line each.
void PrintMessage(UINT id, const std::string& insert)
{
    if (id == IDS_ERR_CONN_CONFLICT) {
        // Not the folder's words about "resources": which connection, and how long we waited.
        std::cerr << "drovemark: another program (drovemark or the Explorer folder) is using the "
                     "connection to the Amiga; gave up on "
                  << Describe(g_profile) << " after waiting " << g_waitSeconds
                  << (g_waitSeconds == 1 ? " second" : " seconds") << " (--wait sets how long)\n";
        return;
    }
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
    config.lockWaitMs = options->waitSeconds * 1000;
    g_profile = profile;
    g_waitSeconds = options->waitSeconds;
    const std::string lockName = config.lockName;
    session.Configure(std::move(config));

    // Say so at once when the connection is busy, rather than sit silent for the wait.
    if (options->waitSeconds > 0) {
        ConnectionLock probe(lockName);
        if (probe.Create()) {
            if (probe.Acquire(0))
                probe.Release();
            else
                std::cerr << "drovemark: waiting up to " << options->waitSeconds
                          << " seconds for another program to finish with " << Describe(profile)
                          << "\n";
        }
    }

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
