| The first byte of the code hunk: the Shell jumps here with the argument line in a0/d0.
    .section .text.start,"ax"
    .globl _start
_start:
    movem.l %d2-%d7/%a2-%a6,-(%sp)
    move.l 4.w,%a6
    move.l %a6,SysBase
    move.l %d0,-(%sp)
    move.l %a0,-(%sp)
    jsr amiga_main
    addq.l #8,%sp
    movem.l (%sp)+,%d2-%d7/%a2-%a6
    rts
