// What the settings and session tests share: an Amiga stand-in on a loopback port that accepts
// every packet, the messages as the user sees them, and the shared section put back afterwards.
#pragma once

#include "core/messages.h"
#include "core/module.h"
#include "core/shared_settings_section.h"
#include "protocol/remote_session.h"
#include "support/loopback_server.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#  include "support/dialog_driver.h"
#endif

namespace dm::test {

// Answers "PkOk" to every packet; counts connections begun and ended, and packets.
class PacketSink {
public:
    uint16_t Port() const { return server_.Port(); }
    std::atomic<int> opened {0}, closed {0}, packets {0};
    bool WaitClosed(int count) const
    {
        for (int i = 0; i < 200 && closed < count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return closed >= count;
    }

private:
    LoopbackServer server_ {[this](LoopbackConnection& connection) {
        ++opened;
        for (std::string head; (head = connection.Receive(12, 3000)).size() == 12; ++packets) {
            const size_t length = size_t(uint8_t(head[2])) << 8 | uint8_t(head[3]);
            if ((length && connection.Receive(length + 4, 3000).size() < length + 4) ||
                !connection.Send("PkOk"))
                break;
        }
        ++closed;
    }};
};

// A session whose only connection is TCP/IP to 127.0.0.1:`port`.
inline RemoteSession::SettingsLoader TcpLoader(uint16_t port, std::atomic<int>* loads = nullptr,
                                               std::string logFile = {})
{
    return [=](ConnectionSettings& settings) {
        if (loads)
            ++*loads;
        ConnectionProfile profile;
        profile.port = port;
        profile.logFile = logFile;
        return settings.LoadProfile(profile);
    };
}

inline std::string Text(UINT id, MessageArg insert = "")
{
    std::string text = FormatStringById(id, ThisModule(), {insert}).value_or("?");
    std::erase(text, '\r');
    return text;
}

// Messages as texts: Windows shows real boxes, read and closed from another thread as a user
// would; elsewhere the session hands them to a recorder.
class Messages {
public:
    RemoteSession::MessageSink Sink()
    {
#ifdef _WIN32
        return nullptr;
#else
        return [this](UINT id, const std::string& insert) {
            texts_.push_back(Text(id, insert));
        };
#endif
    }

    // What `action` showed; `waitMs` bounds the wait for a box that should not come.
    std::vector<std::string> During(const std::function<void()>& action,
                                    [[maybe_unused]] DWORD waitMs = 10000)
    {
        texts_.clear();
#ifdef _WIN32
        {
            DialogDriver driver(
                [&](HWND box) {
                    caption = WindowText(box);
                    for (std::string text : StaticTexts(box)) {
                        std::erase(text, '\r');
                        if (!text.empty())
                            texts_.push_back(text);
                    }
                    PressButton(box, IDOK);
                },
                GetCurrentThreadId(), waitMs);
            action();
        }
#else
        action();
#endif
        return texts_;
    }

    std::string caption;  // of the last box (Windows)

private:
    std::vector<std::string> texts_;
};

class SharedSectionGuard {
public:
    ~SharedSectionGuard() { SharedSection() = saved_; }

private:
    SharedSettingsSection saved_ = SharedSection();
};

template <typename F>
long long ElapsedMs(F&& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

inline size_t Count(const std::string& text, const std::string& what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

}  // namespace dm::test
