; fib.s - prints the first 24 Fibonacci numbers; the exit status is the low
; byte of the 24th.
        SETPC   $400000
START:  MOV     #0,R8           ; a
        MOV     #1,R9           ; b
        MOV     #24,R10
@NEXT:  BSR     PRHEX
        MOV     R9,R4           ; (delay slot)
        MOV     R8,R0
        ADD     R9,R0           ; a + b
        MOV     R9,R8
        DT      R10
        BF/S    @NEXT
        MOV     R0,R9           ; (delay slot)
        MOV     R8,R0
        AND     #255,R0
        MOV     R0,R4
        MOV     #1,R3           ; exit(fib(24) AND 255)
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

