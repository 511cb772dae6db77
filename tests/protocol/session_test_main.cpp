// The settings and session tests, and the helper roles this program plays as a second process.
#include <gtest/gtest.h>

#ifdef _WIN32
#  include "protocol/registry_support.h"

#  include <cstdlib>

namespace dm::test {

int RunChildRole(const std::vector<std::string>& args)
{
    const std::string role = args.empty() ? "" : args[0];
    // hold LOCK MILLISECONDS READY-EVENT close|exit: holds the connection lock for a while, then
    // lets go, or ends without letting go.
    if (role == "hold" && args.size() == 5) {
        RemoteSession::Config config;
        config.lockName = args[1];
        config.lockWaitMs = 5000;
        config.load = TcpLoader(1);
        config.show = [](UINT, const std::string&) {
        };
        RemoteSession session(config);
        session.AddRef();
        if (!session.Open(false))
            return 2;
        HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, args[3].c_str());
        if (!ready || !SetEvent(ready))
            return 3;
        Sleep(DWORD(std::atoi(args[2].c_str())));
        if (args[4] == "exit")
            ExitProcess(0);
        session.Close();
        // Still running for a while: whoever waited was let in by Close, not by the exit.
        Sleep(500);
        session.Release();
        return 0;
    }
    // stamp SEEN NEW: checks the settings stamp this process sees, then changes it.
    if (role == "stamp" && args.size() == 3) {
        if (SharedSection().settingsStamp != std::strtoul(args[1].c_str(), nullptr, 10))
            return 5;
        SharedSection().settingsStamp = std::strtoul(args[2].c_str(), nullptr, 10);
        return 0;
    }
    return 9;
}

}  // namespace dm::test
#endif

int main(int argc, char** argv)
{
#ifdef _WIN32
    // What the module does when it is loaded: every process of this program shares the section.
    dm::ShareSectionAcrossProcesses();
    if (argc > 1 && std::string(argv[1]) == dm::test::kChildSwitch)
        return dm::test::RunChildRole(std::vector<std::string>(argv + 2, argv + argc));
#endif
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
