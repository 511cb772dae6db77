| Calls into the ROM's libraries. Our C code passes arguments on the stack and expects pointers
| in a0; the libraries take registers, need their base in a6 and answer in d0.

#include "call.i"

    .text
    CALL Forbid, SysBase, -132
    CALL Permit, SysBase, -138
    CALL Disable, SysBase, -120
    CALL Enable, SysBase, -126
    CALL AllocMem, SysBase, -198, d0, d1
    CALL FreeMem, SysBase, -210, a1, d0
    CALL FindTask, SysBase, -294, a1
    CALL SetSignal, SysBase, -306, d0, d1
    CALL Wait, SysBase, -318, d0
    CALL Signal, SysBase, -324, a1, d0
    CALL AllocSignal, SysBase, -330, d0
    CALL FreeSignal, SysBase, -336, d0
    CALL SetIntVector, SysBase, -162, d0, a1
    CALL AddIntServer, SysBase, -168, d0, a1
    CALL RemIntServer, SysBase, -174, d0, a1
    CALL FindName, SysBase, -276, a0, a1
    CALL AddPort, SysBase, -354, a1
    CALL RemPort, SysBase, -360, a1
    CALL FindPort, SysBase, -390, a1
    CALL RemDevice, SysBase, -438, a1
    CALL CloseLibrary, SysBase, -414, a1
    CALL OpenResource, SysBase, -498, a1
    CALL OpenLibrary, SysBase, -552, a1, d0
    CALL OpenDevice, SysBase, -444, a0, d0, a1, d1
    CALL CloseDevice, SysBase, -450, a1
    CALL DoIO, SysBase, -456, a1
    CALL PutMsg, SysBase, -366, a0, a1

    CALL Open, DOSBase, -30, d1, d2
    CALL Close, DOSBase, -36, d1
    CALL Read, DOSBase, -42, d1, d2, d3
    CALL Write, DOSBase, -48, d1, d2, d3
    CALL Output, DOSBase, -60
    CALL DeleteFile, DOSBase, -72, d1
    CALL Rename, DOSBase, -78, d1, d2
    CALL Lock, DOSBase, -84, d1, d2
    CALL UnLock, DOSBase, -90, d1
    CALL Examine, DOSBase, -102, d1, d2
    CALL ExNext, DOSBase, -108, d1, d2
    CALL Info, DOSBase, -114, d1, d2
    CALL CreateDir, DOSBase, -120, d1
    CALL IoErr, DOSBase, -132
    CALL SetComment, DOSBase, -180, d1, d2
    CALL SetProtection, DOSBase, -186, d1, d2
    CALL Delay, DOSBase, -198, d1
    CALL SetFileDate, DOSBase, -396, d1, d2
    CALL DateStamp, DOSBase, -192, d1

    CALL socket, SocketBase, -30, d0, d1, d2
    CALL bind, SocketBase, -36, d0, a0, d1
    CALL listen, SocketBase, -42, d0, d1
    CALL accept, SocketBase, -48, d0, a0, a1
    CALL send, SocketBase, -66, d0, a0, d1, d2
    CALL recv, SocketBase, -78, d0, a0, d1, d2
    CALL setsockopt, SocketBase, -90, d0, d1, d2, a0, d3
    CALL IoctlSocket, SocketBase, -114, d0, d1, a0
    CALL CloseSocket, SocketBase, -120, d0
    CALL WaitSelect, SocketBase, -126, d0, a0, a1, a2, a3, d1
    CALL Errno, SocketBase, -162

    CALL AllocMiscResource, MiscBase, -6, d0, a1
    CALL FreeMiscResource, MiscBase, -12, d0

| Interrupt code gets its data in a1 and may use d0/d1/a0/a1/a5/a6; the C handlers take it as
| their argument. A server returns with Z set so that the next one in the chain runs.
    .globl rbf_entry
rbf_entry:
    move.l %a1,-(%sp)
    jsr rbf_interrupt
    addq.l #4,%sp
    rts

    .globl vbl_entry
vbl_entry:
    move.l %a1,-(%sp)
    jsr vbl_interrupt
    addq.l #4,%sp
    moveq #0,%d0
    rts

| 32-bit product from three 16 x 16 ones (the high halves' product falls outside 32 bits).
    .globl __mulsi3
__mulsi3:
    move.w 6(%sp),%d0
    mulu.w 10(%sp),%d0
    move.w 4(%sp),%d1
    mulu.w 10(%sp),%d1
    move.l %d1,%a0
    move.w 8(%sp),%d1
    mulu.w 6(%sp),%d1
    add.l %a0,%d1
    swap %d1
    clr.w %d1
    add.l %d1,%d0
    rts
