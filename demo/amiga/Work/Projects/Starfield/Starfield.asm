; A scrolling starfield.
        section code,code
start:  moveq   #63,d7
.loop:  bsr.s   plot
        dbf     d7,.loop
        rts
plot:   rts
