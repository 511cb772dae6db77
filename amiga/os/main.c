/* Drovemark for the Amiga: serves the serial port until Ctrl+C, or until started again. */
#include "amiga.h"
#include "fs_dos.h"
#include "serial_paula.h"
#include "../server/crc32.h"
#include "../server/server.h"
#include "../server/text.h"

#define PORT_NAME "Drovemark"
#define PA_IGNORE 2

void *SysBase, *DOSBase, *MiscBase;

static Channel channel;
static Server server;
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

static int has_word(const char *args, int32_t length, const char *word)
{
    size_t n = strlen(word);
    for (int32_t i = 0; i + (int32_t)n <= length; ++i) {
        if (text_equal_nocase(args + i, word, n))
            return 1;
    }
    return 0;
}

static int serve(uint32_t baud, uint16_t buffer, int handshake)
{
    const char *problem = serial_open(baud, handshake);
    if (problem) {
        say("Drovemark: ");
        say(problem);
        say(".\n");
        return 20;
    }
    char number[12];
    text_number(number, baud);
    say("Drovemark serves the serial port at ");
    say(number);
    say(" baud. Ctrl+C, or starting it again, stops it.\n");
    channel_init(&channel, serial_transport(), buffer);
    server_init(&server, &channel, &fs);
    server_run(&server);
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
        uint32_t buffer = option(args, length, "BUFFER=", 512);
        result = serve(option(args, length, "BAUD=", 19200),
                       (uint16_t)(buffer < 5 ? 5 : buffer > 8192 ? 8192 : buffer),
                       !has_word(args, length, "NOHANDSHAKE"));
        fs_dos_close();
    }
    RemPort(&port);
    SetSignal(0, SIGBREAKF_CTRL_C);
    if (self[TASK_NODE_TYPE] == NT_PROCESS)
        *window = old_window;
    CloseLibrary(DOSBase);
    return result;
}
