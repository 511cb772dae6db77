#include "socket_tcp.h"

#include "amiga.h"
#include "../server/text.h"

#define AF_INET 2
#define SOCK_STREAM 1
#define SOL_SOCKET 0xFFFF
#define SO_REUSEADDR 0x0004
#define IPPROTO_TCP 6
#define TCP_NODELAY 0x01
#define FIONBIO 0x8004667EL
#define EWOULDBLOCK 35
#define SOCKET_LIBRARY_MINIMUM 3
#define NO_SOCKET (-1L)
#define WRITE_WAIT_MS 20000L
/* Descriptors the select sets can name: a stack numbers them from 0 per task. */
#define SET_LONGS 2

struct sockaddr_in {
    uint8_t sin_len, sin_family;
    uint16_t sin_port;
    uint32_t sin_addr;
    uint8_t sin_zero[8];
};
_Static_assert(sizeof(struct sockaddr_in) == 16, "sockaddr_in");
struct timeval {
    int32_t tv_sec, tv_micro;
};

int32_t socket(int32_t domain, int32_t type, int32_t protocol);
int32_t bind(int32_t s, const struct sockaddr_in *name, int32_t length);
int32_t listen(int32_t s, int32_t backlog);
int32_t accept(int32_t s, struct sockaddr_in *address, int32_t *length);
int32_t send(int32_t s, const void *data, int32_t length, int32_t flags);
int32_t recv(int32_t s, void *buffer, int32_t length, int32_t flags);
int32_t setsockopt(int32_t s, int32_t level, int32_t name, const void *value, int32_t length);
int32_t IoctlSocket(int32_t s, uint32_t request, void *argument);
int32_t CloseSocket(int32_t s);
int32_t Errno(void);
int32_t WaitSelect(int32_t count, uint32_t *read_set, uint32_t *write_set, uint32_t *except_set,
                   struct timeval *timeout, uint32_t *signals);

void *SocketBase;

static int32_t listener = NO_SOCKET, peer = NO_SOCKET;
static uint8_t fresh, readable, dropped;
static uint8_t queued[TCP_PACKET_BUFFER + 16];
static uint32_t queued_count;
/* What arrived beyond the bytes asked for: each call into the stack costs the emulated or slow
 * machine more than the bytes do. */
static uint8_t inbox[1024];
static uint16_t inbox_at, inbox_count;

static int flush(void);
static Transport transport;

static void set_bit(uint32_t *set, int32_t s)
{
    set[s >> 5] |= 1UL << (s & 31);
}

static int has_bit(const uint32_t *set, int32_t s)
{
    return (set[s >> 5] >> (s & 31)) & 1;
}

/* Waits until `s` can be read (or written) or Ctrl+C comes: IO_OK, IO_TIMEOUT, IO_STOP, IO_FAIL. */
static int wait_for(int32_t s, int writing, int32_t timeout_ms)
{
    uint32_t set[SET_LONGS] = {0};
    set_bit(set, s);
    struct timeval limit = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    uint32_t signals = SIGBREAKF_CTRL_C;
    int32_t n = WaitSelect(s + 1, writing ? 0 : set, writing ? set : 0, 0,
                           timeout_ms == WAIT_FOREVER ? 0 : &limit, &signals);
    if (signals & SIGBREAKF_CTRL_C)
        return IO_STOP;
    if (n < 0)
        return IO_FAIL;
    return n == 0 ? IO_TIMEOUT : IO_OK;
}

static int tcp_read(Transport *self, void *buffer, uint32_t count, int32_t timeout_ms)
{
    (void)self;
    uint8_t *to = buffer;
    int io = flush();
    while (io == IO_OK && count) {
        if (inbox_count) {
            uint32_t n = inbox_count < count ? inbox_count : count;
            memcpy(to, inbox + inbox_at, n);
            inbox_at = (uint16_t)(inbox_at + n);
            inbox_count = (uint16_t)(inbox_count - n);
            to += n;
            count -= n;
            continue;
        }
        if (dropped)
            return IO_FAIL;
        int32_t n = recv(peer, inbox, sizeof inbox, 0);
        if (n > 0) {
            inbox_at = 0;
            inbox_count = (uint16_t)n;
        } else if (n < 0 && Errno() == EWOULDBLOCK) {
            io = wait_for(peer, 0, timeout_ms);
        } else {
            dropped = 1;
        }
    }
    return io;
}

/* Everything queued since the last read: a packet's header, data and CRC go as one segment. */
static int flush(void)
{
    const uint8_t *from = queued;
    uint32_t count = queued_count;
    queued_count = 0;
    while (count) {
        if (dropped)
            return IO_FAIL;
        int32_t n = send(peer, from, (int32_t)count, 0);
        if (n < 0 && Errno() == EWOULDBLOCK) {
            int io = wait_for(peer, 1, WRITE_WAIT_MS);
            if (io != IO_OK) {
                dropped = io != IO_STOP;
                return io == IO_STOP ? IO_STOP : IO_FAIL;
            }
            continue;
        }
        if (n <= 0) {
            dropped = 1;
            return IO_FAIL;
        }
        from += n;
        count -= (uint32_t)n;
    }
    return IO_OK;
}

static int tcp_write(Transport *self, const void *buffer, uint32_t count)
{
    (void)self;
    const uint8_t *from = buffer;
    while (count) {
        if (queued_count == sizeof queued) {
            int io = flush();
            if (io != IO_OK)
                return io;
        }
        uint32_t n = sizeof queued - queued_count;
        n = n < count ? n : count;
        memcpy(queued + queued_count, from, n);
        queued_count += n;
        from += n;
        count -= n;
    }
    return IO_OK;
}

static void tcp_discard(Transport *self)
{
    flush();
    inbox_count = 0;
    while (!dropped && wait_for(peer, 0, 100) == IO_OK) {
        int32_t n = recv(peer, inbox, sizeof inbox, 0);
        if (n == 0 || (n < 0 && Errno() != EWOULDBLOCK))
            dropped = 1;
    }
    (void)self;
}

int tcp_open(uint16_t port)
{
    SocketBase = OpenLibrary("bsdsocket.library", SOCKET_LIBRARY_MINIMUM);
    if (!SocketBase)
        return TCP_NO_STACK;
    listener = socket(AF_INET, SOCK_STREAM, 0);
    int32_t on = 1;
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_len = sizeof address;
    address.sin_family = AF_INET;
    address.sin_port = port;
    if (listener < 0 || listener >= SET_LONGS * 32) {
        tcp_close();
        return TCP_FAILED;
    }
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(listener, &address, sizeof address) < 0 || listen(listener, 1) < 0) {
        tcp_close();
        return TCP_FAILED;
    }
    transport.read = tcp_read;
    transport.write = tcp_write;
    transport.discard = tcp_discard;
    /* As the serial line at its usual speed: the PC's waits assume no faster a line. */
    transport.bytes_per_second = 1920;
    return TCP_LISTENING;
}

void tcp_close(void)
{
    if (peer != NO_SOCKET)
        CloseSocket(peer);
    if (listener != NO_SOCKET)
        CloseSocket(listener);
    peer = listener = NO_SOCKET;
    if (SocketBase)
        CloseLibrary(SocketBase);
    SocketBase = 0;
}

Transport *tcp_transport(void)
{
    return &transport;
}

uint32_t tcp_wait(uint32_t signals)
{
    /* While one PC is served the next one waits in the listen queue. */
    if (peer != NO_SOCKET) {
        flush();
        if (inbox_count || dropped) {
            readable = 1;
            return 0;
        }
    }
    int32_t s = peer != NO_SOCKET ? peer : listener;
    uint32_t set[SET_LONGS] = {0};
    set_bit(set, s);
    readable = 0;
    int32_t n = WaitSelect(s + 1, set, 0, 0, 0, &signals);
    if (n <= 0 || !has_bit(set, s))
        return signals;
    if (s == peer) {
        readable = 1;
        return signals;
    }
    struct sockaddr_in from;
    int32_t length = sizeof from;
    peer = accept(listener, &from, &length);
    if (peer >= SET_LONGS * 32) {
        CloseSocket(peer);
        peer = NO_SOCKET;
    }
    if (peer < 0) {
        peer = NO_SOCKET;
        return signals;
    }
    int32_t on = 1;
    setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    IoctlSocket(peer, FIONBIO, &on);
    inbox_count = 0;
    fresh = 1;
    dropped = 0;
    queued_count = 0;
    return signals;
}

int tcp_connected_anew(void)
{
    int was = fresh;
    fresh = 0;
    return was;
}

int tcp_has_input(void)
{
    return readable;
}

int tcp_hang_up_if_dropped(void)
{
    if (peer == NO_SOCKET || !dropped)
        return 0;
    CloseSocket(peer);
    peer = NO_SOCKET;
    dropped = readable = 0;
    return 1;
}
