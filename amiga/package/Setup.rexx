/* Drovemark Setup for Amiga OS 2.0 and later: receives the Drovemark program from the PC over the
   serial line and starts it, so that the PC can copy the rest of Drovemark's files with it.
   The PC sends the program, then line feeds that complete Type's last read, then a break, which
   ends Type. A program file never ends in a line feed: every one at the end is dropped. */

part = 'RAM:Drovemark.part'
program = 'RAM:Drovemark'
start = 'RAM:Drovemark.start'

SAY 'Drovemark Setup: receiving Drovemark from the PC. Please wait...'
ADDRESS COMMAND 'Type SER: TO' part

IF ~Open('in', part, 'R') THEN CALL Fail 'Nothing arrived from the PC.'
size = Seek('in', 0, 'E')

/* From the end backwards, a block at a time, until a byte other than a line feed. */
keep = size
DO WHILE keep > 0
    from = Max(keep - 512, 0)
    CALL Seek 'in', from, 'B'
    rest = Strip(ReadCh('in', keep - from), 'T', '0A'x)
    keep = from + Length(rest)
    IF Length(rest) > 0 THEN LEAVE
END

CALL Seek 'in', 0, 'B'
IF keep < 32 | ReadCh('in', 4) ~== '000003F3'x THEN DO
    CALL Close 'in'
    CALL Fail 'What arrived is not the Drovemark program.'
END

CALL Seek 'in', 0, 'B'
IF ~Open('out', program, 'W') THEN DO
    CALL Close 'in'
    CALL Fail 'Cannot write' program'.'
END
left = keep
DO WHILE left > 0
    piece = ReadCh('in', Min(left, 4096))
    IF Length(piece) = 0 | WriteCh('out', piece) ~= Length(piece) THEN DO
        CALL Close 'in'
        CALL Close 'out'
        ADDRESS COMMAND 'Delete >NIL:' program 'QUIET'
        CALL Fail 'Cannot write' program'.'
    END
    left = left - Length(piece)
END
CALL Close 'in'
CALL Close 'out'
ADDRESS COMMAND 'Delete >NIL:' part 'QUIET'

/* Started the way its icon starts it: with the stack its icon asks for. */
IF ~Open('script', start, 'W') THEN CALL Fail 'Cannot write' start'.'
CALL WriteLn 'script', 'Stack 20000'
CALL WriteLn 'script', program
CALL Close 'script'
SAY 'Drovemark arrived ('keep' bytes). Starting it; the PC now copies its files to the RAM Disk.'
ADDRESS COMMAND 'Run >NIL: Execute' start
EXIT 0

Fail:
    PARSE ARG why
    SAY 'Drovemark Setup failed:' why
    SAY 'Check the cable and the Serial Preferences, then run Setup on the PC again.'
    EXIT 10
