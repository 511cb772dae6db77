| A library call: stack arguments into registers, the base into a6, the answer from d0 into a0
| as well (this ABI returns pointers there).
    .macro CALL name, base, offset, r1, r2, r3, r4, r5, r6
    .globl \name
    .type \name, @function
\name:
    movem.l %d2-%d7/%a2-%a6,-(%sp)
    .ifnb \r1
    move.l 48(%sp),%\r1
    .endif
    .ifnb \r2
    move.l 52(%sp),%\r2
    .endif
    .ifnb \r3
    move.l 56(%sp),%\r3
    .endif
    .ifnb \r4
    move.l 60(%sp),%\r4
    .endif
    .ifnb \r5
    move.l 64(%sp),%\r5
    .endif
    .ifnb \r6
    move.l 68(%sp),%\r6
    .endif
    move.l \base,%a6
    jsr \offset(%a6)
    move.l %d0,%a0
    movem.l (%sp)+,%d2-%d7/%a2-%a6
    rts
    .endm
