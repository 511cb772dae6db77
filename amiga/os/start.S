| The first byte of the code hunk: the Shell jumps here with the argument line in a0/d0.
| The server runs on a stack of its own: a Shell of Kickstart 1.x gives 4000 bytes by default,
| too little for walks through deep drawers, and the task's stack bounds are moved with it
| because later systems check them at every task switch.
    .equ STACK_SIZE, 16384
    .equ TC_SPLOWER, 58
    .equ TC_SPUPPER, 62

    .section .text.start,"ax"
    .globl _start
_start:
    movem.l %d2-%d7/%a2-%a6,-(%sp)
    move.l 4.w,%a6
    move.l %a6,SysBase
    move.l %d0,%d2
    move.l %a0,%a2
    sub.l %a1,%a1
    jsr -294(%a6)                   | FindTask(0)
    move.l %d0,%a3
    move.l TC_SPLOWER(%a3),%d3
    move.l TC_SPUPPER(%a3),%d4
    move.l %sp,%d5
    jsr -132(%a6)                   | Forbid
    lea own_stack,%a0
    move.l %a0,TC_SPLOWER(%a3)
    lea own_stack+STACK_SIZE,%a0
    move.l %a0,TC_SPUPPER(%a3)
    move.l %a0,%sp
    jsr -138(%a6)                   | Permit
    move.l %d2,-(%sp)
    move.l %a2,-(%sp)
    jsr amiga_main
    addq.l #8,%sp
    move.l %d0,%d2
    move.l 4.w,%a6
    jsr -132(%a6)                   | Forbid
    move.l %d3,TC_SPLOWER(%a3)
    move.l %d4,TC_SPUPPER(%a3)
    move.l %d5,%sp
    jsr -138(%a6)                   | Permit
    move.l %d2,%d0
    movem.l (%sp)+,%d2-%d7/%a2-%a6
    rts

    .section .bss
    .balign 4
own_stack:
    .skip STACK_SIZE
