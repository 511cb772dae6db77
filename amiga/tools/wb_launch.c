/* For the emulator test: starts a program the way Workbench does when its icon is double-clicked
 * (a process without a CLI, handed a start message naming the program and its folder), waits
 * until the file STOPFILE appears, starts it a second time as a second double-click would, waits
 * until both start messages have come back and then writes REPORT.
 *   WBLaunch PROGRAM STOPFILE REPORT */
#include "../os/amiga.h"
#include "../os/workbench.h"
#include "../server/text.h"

void *SysBase, *DOSBase, *IconBase;

BPTR LoadSeg(const char *name);
void UnLoadSeg(BPTR segments);
struct MsgPort *CreateProc(const char *name, int32_t priority, BPTR segments, int32_t stack);
void PutMsg(struct MsgPort *port, struct Message *message);
void WaitPort(struct MsgPort *port);
struct Message *GetMsg(struct MsgPort *port);

#define NT_MESSAGE 5
#define NT_REPLYMSG 7

static struct MsgPort replies;
static struct WBStartup startups[2];
static struct WBArg args[2];
static char words[3][80];

static int launch(int which, BPTR folder)
{
    BPTR segments = LoadSeg(words[0]);
    if (!segments)
        return 0;
    struct WBStartup *startup = &startups[which];
    args[which].wa_Lock = folder;
    args[which].wa_Name = words[0];
    startup->sm_Message.mn_Node.ln_Type = NT_MESSAGE;
    startup->sm_Message.mn_ReplyPort = &replies;
    startup->sm_Message.mn_Length = sizeof *startup;
    startup->sm_Segment = segments;
    startup->sm_NumArgs = 1;
    startup->sm_ArgList = &args[which];
    startup->sm_Process = CreateProc(words[0], 0, segments, 20000);
    if (!startup->sm_Process) {
        UnLoadSeg(segments);
        return 0;
    }
    PutMsg(startup->sm_Process, &startup->sm_Message);
    return 1;
}

static void report(const char *text)
{
    BPTR file = Open(words[2], MODE_NEWFILE);
    if (file) {
        Write(file, text, (int32_t)strlen(text));
        Close(file);
    }
}

int amiga_main(const char *line, int32_t length)
{
    DOSBase = OpenLibrary("dos.library", LIBRARY_MINIMUM);
    if (!DOSBase)
        return 20;
    int32_t at = 0;
    for (int w = 0; w < 3; ++w) {
        while (at < length && (line[at] == ' ' || line[at] == '\n'))
            ++at;
        size_t n = 0;
        while (at < length && line[at] != ' ' && line[at] != '\n' && n + 1 < sizeof words[w])
            words[w][n++] = line[at++];
        words[w][n] = 0;
    }
    int32_t signal = AllocSignal(-1);
    replies.mp_Node.ln_Type = NT_MSGPORT;
    replies.mp_SigBit = (uint8_t)signal;
    replies.mp_SigTask = FindTask(0);
    replies.mp_MsgList.lh_Head = (struct Node *)&replies.mp_MsgList.lh_Tail;
    replies.mp_MsgList.lh_TailPred = (struct Node *)&replies.mp_MsgList.lh_Head;

    BPTR folder = Lock("", ACCESS_READ);
    int started = launch(0, folder);
    if (!started) {
        report("the first start failed\n");
    } else {
        BPTR stop = 0;
        for (int seconds = 0; seconds < 600 && !(stop = Lock(words[1], ACCESS_READ)); ++seconds)
            Delay(50);
        if (stop)
            UnLock(stop);
        started += launch(1, folder);
        int replied = 0;
        while (replied < started) {
            WaitPort(&replies);
            struct WBStartup *back = (struct WBStartup *)GetMsg(&replies);
            if (!back)
                continue;
            UnLoadSeg(back->sm_Segment);
            ++replied;
        }
        char text[40];
        size_t n = text_number(text, (uint32_t)replied);
        text_copy(text + n, " replied\n", sizeof text - n);
        report(text);
    }
    UnLock(folder);
    FreeSignal(signal);
    CloseLibrary(DOSBase);
    return 0;
}
