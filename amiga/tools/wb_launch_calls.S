| The calls of the test launcher that stands in for Workbench.
#include "../os/call.i"

    .text
    CALL LoadSeg, DOSBase, -150, d1
    CALL UnLoadSeg, DOSBase, -156, d1
    CALL CreateProc, DOSBase, -138, d1, d2, d3, d4
    CALL PutMsg, SysBase, -366, a0, a1
    CALL OpenLibrary, SysBase, -552, a1, d0
    CALL CloseLibrary, SysBase, -414, a1
    CALL FindTask, SysBase, -294, a1
    CALL AllocSignal, SysBase, -330, d0
    CALL FreeSignal, SysBase, -336, d0
    CALL Open, DOSBase, -30, d1, d2
    CALL Close, DOSBase, -36, d1
    CALL Write, DOSBase, -48, d1, d2, d3
    CALL Lock, DOSBase, -84, d1, d2
    CALL UnLock, DOSBase, -90, d1
    CALL Delay, DOSBase, -198, d1
