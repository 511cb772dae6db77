#include "workbench.h"

#include "../server/text.h"

void *IconBase;

void WaitPort(struct MsgPort *port);
struct Message *GetMsg(struct MsgPort *port);
void ReplyMsg(struct Message *message);
BPTR CurrentDir(BPTR lock);
struct DiskObject *GetDiskObject(const char *name);
void FreeDiskObject(struct DiskObject *icon);

struct WBStartup *workbench_startup(void)
{
    uint8_t *self = FindTask(0);
    if (self[TASK_NODE_TYPE] != NT_PROCESS || *(BPTR *)(self + PROCESS_CLI) != 0)
        return 0;
    struct MsgPort *port = (struct MsgPort *)(self + PROCESS_MSGPORT);
    WaitPort(port);
    return (struct WBStartup *)GetMsg(port);
}

int workbench_settings(struct WBStartup *startup, ServerSettings *s, char *bad, size_t bad_size)
{
    if (startup->sm_NumArgs < 1 || !startup->sm_ArgList)
        return 1;
    IconBase = OpenLibrary("icon.library", LIBRARY_MINIMUM);
    if (!IconBase)
        return 1;
    const struct WBArg *tool = startup->sm_ArgList;
    BPTR old = CurrentDir(tool->wa_Lock);
    struct DiskObject *icon = GetDiskObject(tool->wa_Name);
    CurrentDir(old);
    int good = 1;
    if (icon) {
        for (char **type = icon->do_ToolTypes; type && *type; ++type) {
            if (settings_word(s, *type, strlen(*type)) == SETTING_BAD && good) {
                text_copy(bad, *type, bad_size);
                good = 0;
            }
        }
        FreeDiskObject(icon);
    }
    CloseLibrary(IconBase);
    return good;
}

void workbench_show(const char *text)
{
    BPTR window = Open("CON:20/30/520/60/Drovemark", MODE_NEWFILE);
    if (!window)
        return;
    Write(window, text, (int32_t)strlen(text));
    Delay(6 * 50);
    Close(window);
}

void workbench_reply(struct WBStartup *startup)
{
    /* Workbench frees our code as soon as it has the message: no instruction of ours may run
     * after that, and the Forbid lasts until this task has ended. */
    Forbid();
    ReplyMsg(&startup->sm_Message);
}
