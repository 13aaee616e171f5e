; sort.s - bubble-sorts a table of signed 32-bit words in place and prints it.
        SETPC   $400000
START:  MOV.L   @(PTABLE,PC),R8 ; table base
        MOV     #10,R9          ; entries
        MOV     R9,R10
        ADD     #-1,R10         ; passes
@PASS:  MOV     R8,R1
        MOV     R9,R2
        ADD     #-1,R2          ; comparisons in this pass
@CMP:   MOV.L   @R1,R3
        MOV.L   @(4,R1),R4
        CMP/GT  R4,R3           ; T when R3 > R4
        BF      @KEEP
        MOV.L   R4,@R1
        MOV.L   R3,@(4,R1)
@KEEP:  ADD     #4,R1
        DT      R2
        BF      @CMP
        DT      R10
        BF      @PASS
        MOV     R8,R12
        MOV     R9,R13
@SHOW:  BSR     PRHEX
        MOV.L   @R12+,R4        ; (delay slot)
        DT      R13
        BF      @SHOW
        MOV     #1,R3
        MOV     #0,R4
        TRAPA   #$17

; PRHEX (prhex.inc) is appended to this program by the test that runs it.

        ALIGN.L
PTABLE: DC.L    TABLE
TABLE:  DC.L    5,-3,100,$7FFFFFFF,0,42,-100000,7,7,$80000000
