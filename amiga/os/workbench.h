/* Started from Workbench: the start message it hands us, the tool types of our icon, and a
 * small window for what a Shell would have printed. */
#ifndef DM_WORKBENCH_H
#define DM_WORKBENCH_H

#include "amiga.h"
#include "../server/settings.h"

struct Message {
    struct Node mn_Node;
    struct MsgPort *mn_ReplyPort;
    uint16_t mn_Length;
};
struct WBArg {
    BPTR wa_Lock;
    char *wa_Name;
};
struct WBStartup {
    struct Message sm_Message;
    struct MsgPort *sm_Process;
    BPTR sm_Segment;
    int32_t sm_NumArgs;
    char *sm_ToolWindow;
    struct WBArg *sm_ArgList;
};
/* Only the fields before the tool types matter to us. */
struct DiskObject {
    uint16_t do_Magic, do_Version;
    uint8_t do_Gadget[44];
    uint8_t do_Type, do_pad;
    char *do_DefaultTool;
    char **do_ToolTypes;
};
STATIC_OFFSET(struct Message, mn_Length, 18);
_Static_assert(sizeof(struct Message) == 20, "Message");
STATIC_OFFSET(struct WBStartup, sm_NumArgs, 28);
STATIC_OFFSET(struct WBStartup, sm_ArgList, 36);
STATIC_OFFSET(struct DiskObject, do_Type, 48);
STATIC_OFFSET(struct DiskObject, do_ToolTypes, 54);

#define PROCESS_MSGPORT 92 /* struct MsgPort in Process */
#define PROCESS_CLI 172    /* BPTR: 0 when Workbench started the process */

/* The start message when Workbench started us (wait for it first), else 0. */
struct WBStartup *workbench_startup(void);
/* Reads our icon's tool types into `s`; unknown ones are passed over. Returns 0 and names the
 * first bad one in `bad` when a known tool type has a value we cannot use. */
int workbench_settings(struct WBStartup *startup, ServerSettings *s, char *bad, size_t bad_size);
/* Shows `text` in a small window for a few seconds. */
void workbench_show(const char *text);
/* Hands the message back; Workbench then unloads us, so this is the last thing we do. */
void workbench_reply(struct WBStartup *startup);

extern void *IconBase;

#endif
