#include "peer/pty_link.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace dm::peer {

namespace {

constexpr int kClientPollMs = 20;   // without notifications
constexpr int kClientWaitMs = 100;  // with them, only to look at the stop request

class PtyLink : public FdLink {
public:
    PtyLink(int master, const std::string& name, uint32_t baudRate)
        : FdLink(master, false, LinkKind::Serial, name)
    {
        if (baudRate > 0) {
            SetPace(baudRate / 10);
            SetTimeouts(5000, 10000.0f / float(baudRate));
        } else {
            SetTimeouts(5000, 1.0416666f);
        }
    }
};

}  // namespace

PtyEndpoint::~PtyEndpoint()
{
    if (!linkPath_.empty())
        unlink(linkPath_.c_str());
    if (watch_ >= 0)
        ::close(watch_);
    if (master_ >= 0)
        ::close(master_);
}

bool PtyEndpoint::Create(const std::string& linkPath, std::string& error)
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        error = "cannot name the pseudo-terminal";
        return false;
    }
    clientPath_ = name;

    // Raw in both directions: no echo, no line editing, no character translation. The setting
    // stays with the pseudo-terminal when the client opens it later.
    const int client = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios line {};
    if (client < 0 || tcgetattr(client, &line) != 0) {
        if (client >= 0)
            ::close(client);
        error = "cannot set up the pseudo-terminal";
        return false;
    }
    cfmakeraw(&line);
    tcsetattr(client, TCSANOW, &line);
    ::close(client);

    // A client that closes and at once reopens its end (as the PC does between operations)
    // leaves no hang-up behind; the notifications of the opens and closes tell it all the same.
    watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ >= 0 &&
        inotify_add_watch(watch_, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        ::close(watch_);
        watch_ = -1;
    }

    if (!linkPath.empty()) {
        struct stat st;
        if (lstat(linkPath.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                error = linkPath + " exists and is not a symbolic link";
                return false;
            }
            unlink(linkPath.c_str());
        }
        if (symlink(name, linkPath.c_str()) != 0) {
            error = "cannot create " + linkPath + ": " + std::strerror(errno);
            return false;
        }
        linkPath_ = linkPath;
    }
    return true;
}

bool PtyEndpoint::ClientLeft()
{
    bool left = false;
    alignas(inotify_event) char events[4096];
    for (ssize_t got; (got = ::read(watch_, events, sizeof events)) > 0;) {
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            if (event->mask & IN_OPEN)
                ++clients_;
            if ((event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) && clients_ > 0 &&
                --clients_ == 0)
                left = true;
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
    return left;
}

bool PtyEndpoint::WaitForClient(const std::atomic<bool>* stop)
{
    while (!stop || !*stop) {
        // What happened before this session is no departure of its client.
        if (watch_ >= 0)
            ClientLeft();
        // Without a client the master reports a hang-up; it clears when the other end is opened.
        pollfd wait {master_, POLLIN, 0};
        const int ready = poll(&wait, 1, 0);
        if ((ready < 0 && errno != EINTR) || (ready > 0 && (wait.revents & POLLNVAL)))
            return false;
        if (ready >= 0 && !(wait.revents & POLLHUP))
            return true;
        // Whatever the last client left unread is no business of the next one.
        uint8_t stale[4096];
        while (::read(master_, stale, sizeof stale) > 0) {
        }
        if (watch_ >= 0) {
            pollfd event {watch_, POLLIN, 0};
            poll(&event, 1, kClientWaitMs);  // an open arrives as a notification
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(kClientPollMs));
        }
    }
    return false;
}

std::unique_ptr<FdLink> PtyEndpoint::MakeLink(uint32_t baudRate)
{
    auto link = std::make_unique<PtyLink>(master_, clientPath_, baudRate);
    if (watch_ >= 0)
        link->WatchForDeparture(watch_, [this] { return ClientLeft(); });
    return link;
}

}  // namespace dm::peer
