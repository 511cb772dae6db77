/* Drovemark for the Amiga: serves the serial port, and TCP/IP where a stack runs, until Ctrl+C
 * or until started again. */
#include "amiga.h"
#include "fs_dos.h"
#include "serial_paula.h"
#include "socket_tcp.h"
#include "../server/crc32.h"
#include "../server/server.h"
#include "../server/text.h"

#define PORT_NAME "Drovemark"
#define PA_IGNORE 2

void *SysBase, *DOSBase, *MiscBase;

static Channel channel, tcp_channel;
static Server server, tcp_server;
static FileSystem fs;
static struct MsgPort port;

static void say(const char *text)
{
    BPTR out = Output();
    if (out)
        Write(out, text, (int32_t)strlen(text));
}

/* The value after "NAME=" in the argument line, or `fallback`. */
static uint32_t option(const char *args, int32_t length, const char *name, uint32_t fallback)
{
    size_t n = strlen(name);
    for (int32_t i = 0; i + (int32_t)n < length; ++i) {
        if (!text_equal_nocase(args + i, name, n))
            continue;
        uint32_t value = 0;
        int32_t at = i + (int32_t)n;
        if (args[at] < '0' || args[at] > '9')
            continue;
        while (at < length && args[at] >= '0' && args[at] <= '9')
            value = value * 10 + (uint32_t)(args[at++] - '0');
        return value;
    }
    return fallback;
}

/* The text after "NAME=" up to a blank, or inside quotes, into `out`; 0 when absent. */
static int text_option(const char *args, int32_t length, const char *name, char *out, size_t room)
{
    size_t n = strlen(name), used = 0;
    for (int32_t i = 0; i + (int32_t)n <= length; ++i) {
        if (!text_equal_nocase(args + i, name, n))
            continue;
        int32_t at = i + (int32_t)n;
        int quoted = at < length && args[at] == '"';
        at += quoted;
        while (at < length && used + 1 < room && args[at] != '\n' &&
               (quoted ? args[at] != '"' : args[at] != ' ' && args[at] != '\t'))
            out[used++] = args[at++];
        out[used] = 0;
        return 1;
    }
    return 0;
}

static int has_word(const char *args, int32_t length, const char *word)
{
    size_t n = strlen(word);
    for (int32_t i = 0; i + (int32_t)n <= length; ++i) {
        if (text_equal_nocase(args + i, word, n))
            return 1;
    }
    return 0;
}

typedef struct {
    uint32_t baud;
    uint16_t buffer, port;
    int handshake;
    char password[100];
} Options;

static void read_options(const char *args, int32_t length, Options *o)
{
    uint32_t buffer = option(args, length, "BUFFER=", 512);
    o->buffer = (uint16_t)(buffer < 5 ? 5 : buffer > 8192 ? 8192 : buffer);
    o->baud = option(args, length, "BAUD=", 19200);
    o->handshake = !has_word(args, length, "NOHANDSHAKE");
    uint32_t port = option(args, length, "PORT=", 356);
    o->port = (uint16_t)(port && port < 65536 ? port : 356);
    if (!text_option(args, length, "PASSWORD=", o->password, sizeof o->password))
        text_copy(o->password, "Vormantic", sizeof o->password);
}

#define IDLE_WAIT_MS 2000L

/* Whichever line speaks is served, a request at a time; a PC that hangs up frees the port for
 * the next. */
static void serve_both(const Options *o)
{
    for (;;) {
        uint32_t signal = serial_arm();
        if (!signal) {
            if (server_step(&server, IDLE_WAIT_MS) == RC_STOP)
                return;
            continue;
        }
        uint32_t woken = tcp_wait(signal | SIGBREAKF_CTRL_C);
        serial_disarm();
        if (woken & SIGBREAKF_CTRL_C)
            return;
        if (tcp_connected_anew()) {
            channel_init(&tcp_channel, tcp_transport(), TCP_PACKET_BUFFER);
            tcp_channel.keyed = 1;
            tcp_channel.key = crc32(o->password, strlen(o->password));
            server_init(&tcp_server, &tcp_channel, &fs);
        }
        if (tcp_has_input() && server_step(&tcp_server, IDLE_WAIT_MS) == RC_STOP)
            return;
        tcp_hang_up_if_dropped();
    }
}

static int serve(const Options *o)
{
    const char *problem = serial_open(o->baud, o->handshake);
    if (problem) {
        say("Drovemark: ");
        say(problem);
        say(".\n");
        return 20;
    }
    char number[12];
    text_number(number, o->baud);
    say("Drovemark serves the serial port at ");
    say(number);
    int tcp = tcp_open(o->port);
    text_number(number, o->port);
    if (tcp == TCP_LISTENING) {
        say(" baud and TCP/IP port ");
        say(number);
    } else {
        say(tcp == TCP_NO_STACK ? " baud (no TCP/IP stack runs" : " baud (TCP/IP port ");
        if (tcp != TCP_NO_STACK) {
            say(number);
            say(" is taken");
        }
        say(")");
    }
    say(". Ctrl+C, or starting it again, stops it.\n");
    channel_init(&channel, serial_transport(), o->buffer);
    server_init(&server, &channel, &fs);
    if (tcp == TCP_LISTENING)
        serve_both(o);
    else
        server_run(&server);
    tcp_close();
    serial_close();
    say("Drovemark stopped.\n");
    return 0;
}

int amiga_main(const char *args, int32_t length)
{
    DOSBase = OpenLibrary("dos.library", LIBRARY_MINIMUM);
    if (!DOSBase)
        return 20;
    int result = 0;
    Forbid();
    struct MsgPort *running = FindPort(PORT_NAME);
    if (running)
        Signal(running->mp_SigTask, SIGBREAKF_CTRL_C);
    Permit();
    if (running) {
        say("Drovemark: asked the running server to stop.\n");
        CloseLibrary(DOSBase);
        return 0;
    }

    uint8_t *self = FindTask(0);
    void **window = (void **)(self + PROCESS_WINDOW_PTR);
    void *old_window = *window;
    if (self[TASK_NODE_TYPE] == NT_PROCESS)
        *window = (void *)-1; /* a missing disk is an error for the PC, not a requester */
    port.mp_Node.ln_Type = NT_MSGPORT;
    port.mp_Node.ln_Name = PORT_NAME;
    port.mp_Flags = PA_IGNORE;
    port.mp_SigTask = self;
    port.mp_MsgList.lh_Head = (struct Node *)&port.mp_MsgList.lh_Tail;
    port.mp_MsgList.lh_TailPred = (struct Node *)&port.mp_MsgList.lh_Head;
    AddPort(&port);

    crc32_init();
    if (!fs_dos_init(&fs)) {
        say("Drovemark: not enough memory.\n");
        result = 20;
    } else {
        static Options options;
        read_options(args, length, &options);
        result = serve(&options);
        fs_dos_close();
    }
    RemPort(&port);
    SetSignal(0, SIGBREAKF_CTRL_C);
    if (self[TASK_NODE_TYPE] == NT_PROCESS)
        *window = old_window;
    CloseLibrary(DOSBase);
    return result;
}
