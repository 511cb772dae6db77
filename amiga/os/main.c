/* Drovemark for the Amiga: serves the serial port, and TCP/IP where a stack runs, until Ctrl+C
 * or until started again (from a Shell or by its icon). */
#include "amiga.h"
#include "fs_dos.h"
#include "serial_paula.h"
#include "socket_tcp.h"
#include "workbench.h"
#include "../server/crc32.h"
#include "../server/server.h"
#include "../server/settings.h"
#include "../server/text.h"

#define PORT_NAME "Drovemark"
#define PA_IGNORE 2

void *SysBase, *DOSBase, *MiscBase;

static Channel channel, tcp_channel;
static Server server, tcp_server;
static FileSystem fs;
static struct MsgPort port;

static struct WBStartup *workbench;

static void say(const char *text)
{
    BPTR out = Output();
    if (out && !workbench)
        Write(out, text, (int32_t)strlen(text));
}

/* Workbench gives us no output: a reason not to run shows in a window there. */
static void refuse(const char *problem, const char *detail)
{
    if (workbench) {
        char text[200];
        size_t n = text_copy(text, problem, sizeof text);
        text_copy(text + n, detail, sizeof text - n);
        workbench_show(text);
        return;
    }
    say("Drovemark: ");
    say(problem);
    say(detail);
    say(".\n");
}

#define IDLE_WAIT_MS 2000L

/* Whichever line speaks is served, a request at a time; a PC that hangs up frees the port for
 * the next. Without the serial port (another program holds it) TCP/IP alone is served. */
static void serve_both(const ServerSettings *settings, int serial)
{
    for (;;) {
        uint32_t signal = 0;
        if (serial) {
            signal = serial_arm();
            if (!signal) {
                if (server_step(&server, IDLE_WAIT_MS) == RC_STOP)
                    return;
                continue;
            }
        }
        uint32_t woken = tcp_wait(signal | SIGBREAKF_CTRL_C);
        if (serial)
            serial_disarm();
        if (woken & SIGBREAKF_CTRL_C)
            return;
        if (tcp_connected_anew()) {
            channel_init(&tcp_channel, tcp_transport(), TCP_PACKET_BUFFER);
            tcp_channel.keyed = 1;
            tcp_channel.key = crc32(settings->password, strlen(settings->password));
            server_init(&tcp_server, &tcp_channel, &fs);
        }
        if (tcp_has_input() && server_step(&tcp_server, IDLE_WAIT_MS) == RC_STOP)
            return;
        tcp_hang_up_if_dropped();
    }
}

static int serve(const ServerSettings *settings)
{
    const char *problem = serial_open(settings->baud, settings->handshake);
    /* A stack that runs over the serial line itself holds the port: TCP/IP is then the way in. */
    int tcp = tcp_open(settings->tcp_port);
    char number[12];
    if (problem && tcp != TCP_LISTENING) {
        tcp_close();
        refuse(problem, "");
        return 20;
    }
    if (problem) {
        text_number(number, settings->tcp_port);
        say("Drovemark serves TCP/IP port ");
        say(number);
        say(" (not the serial port: ");
        say(problem);
        say("). Ctrl+C, or starting it again, stops it.\n");
        serve_both(settings, 0);
        tcp_close();
        say("Drovemark stopped.\n");
        return 0;
    }
    text_number(number, settings->baud);
    say("Drovemark serves the serial port at ");
    say(number);
    text_number(number, settings->tcp_port);
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
    channel_init(&channel, serial_transport(), settings->buffer);
    server_init(&server, &channel, &fs);
    if (tcp == TCP_LISTENING)
        serve_both(settings, 1);
    else
        server_run(&server);
    tcp_close();
    serial_close();
    say("Drovemark stopped.\n");
    return 0;
}

/* The settings from the icon's tool types or the argument line; 0 (told) when one is bad. */
static int read_settings(ServerSettings *settings, const char *args, int32_t length)
{
    settings_defaults(settings);
    if (workbench) {
        char bad[120];
        if (workbench_settings(workbench, settings, bad, sizeof bad))
            return 1;
        refuse("this tool type has a value I cannot use: ", bad);
        return 0;
    }
    const char *bad;
    size_t bad_length;
    if (settings_line(settings, args, (size_t)length, &bad, &bad_length))
        return 1;
    char word[60];
    text_copy(word, bad, bad_length + 1 < sizeof word ? bad_length + 1 : sizeof word);
    refuse("I do not understand ", word);
    say("Arguments: BAUD=n BUFFER=n HANDSHAKE=RTSCTS|NONE PORT=n PASSWORD=text\n");
    return 0;
}

static int run(const char *args, int32_t length)
{
    int result = 0;
    Forbid();
    struct MsgPort *running = FindPort(PORT_NAME);
    if (running)
        Signal(running->mp_SigTask, SIGBREAKF_CTRL_C);
    Permit();
    if (running) {
        say("Drovemark: asked the running server to stop.\n");
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
    ServerSettings settings;
    if (!read_settings(&settings, args, length)) {
        result = 20;
    } else if (!fs_dos_init(&fs)) {
        refuse("not enough memory", "");
        result = 20;
    } else {
        result = serve(&settings);
        fs_dos_close();
    }
    RemPort(&port);
    SetSignal(0, SIGBREAKF_CTRL_C);
    if (self[TASK_NODE_TYPE] == NT_PROCESS)
        *window = old_window;
    return result;
}

int amiga_main(const char *args, int32_t length)
{
    workbench = workbench_startup();
    int result = 20;
    DOSBase = OpenLibrary("dos.library", LIBRARY_MINIMUM);
    if (DOSBase) {
        result = run(args, length);
        CloseLibrary(DOSBase);
    }
    if (workbench)
        workbench_reply(workbench);
    return result;
}
