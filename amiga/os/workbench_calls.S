| The calls a program started from Workbench needs: its start message and its icon.
#include "call.i"

    .text
    CALL WaitPort, SysBase, -384, a0
    CALL GetMsg, SysBase, -372, a0
    CALL ReplyMsg, SysBase, -378, a1
    CALL CurrentDir, DOSBase, -126, d1
    CALL GetDiskObject, IconBase, -78, a0
    CALL FreeDiskObject, IconBase, -90, a0
