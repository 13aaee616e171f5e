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

; PRHEX: writes R4 as 8 hexadecimal digits and a line feed.
PRHEX:  STS.L   PR,@-R15
        ADD     #-12,R15        ; a 9-byte buffer on the stack
        MOV     R15,R5
        MOV     #8,R2
@DIGIT: MOV     R4,R0
        SHLR16  R0
        SHLR8   R0
        SHLR2   R0
        SHLR2   R0              ; R0 = top nibble
        MOV     #9,R1
        CMP/GT  R1,R0
        BF      @DEC
        ADD     #7,R0           ; A..F
@DEC:   ADD     #48,R0
        MOV.B   R0,@R5
        ADD     #1,R5
        SHLL2   R4
        DT      R2
        BF/S    @DIGIT
        SHLL2   R4
        MOV     #10,R0
        MOV.B   R0,@R5
        MOV     R15,R5
        MOV     #9,R6
        MOV     #4,R3
        MOV     #1,R4
        TRAPA   #$17
        ADD     #12,R15
        LDS.L   @R15+,PR
        RTS
        NOP

        IDATA
PDATA:  DC.L    DATA
DATA:   INCBIN  "data.raw"
