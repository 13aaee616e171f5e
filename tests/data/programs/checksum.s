; checksum.s - sums and XORs the bytes of an included file; prints both and exits
; with the low byte of the sum.
        SETPC   $400000
START:  MOV.L   @(PDATA,PC),R1
        IMOV.L  #1000,R2        ; bytes in data.raw
        MOV     #0,R8           ; sum
        MOV     #0,R9           ; xor
@LOOP:  MOV.B   @R1+,R0
        EXTU.B  R0,R0
        ADD     R0,R8
        DT      R2
        BF/S    @LOOP
        XOR     R0,R9           ; (delay slot)
        BSR     PRHEX
        MOV     R8,R4
        BSR     PRHEX
        MOV     R9,R4
        MOV     R8,R0
        AND     #$FF,R0
        MOV     R0,R4
        MOV     #1,R3
        TRAPA   #$17

; PRHEX (prhex.inc) is appended to this program by the test that runs it.

        IDATA
PDATA:  DC.L    DATA
DATA:   INCBIN  "data.raw"
