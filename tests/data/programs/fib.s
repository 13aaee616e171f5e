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

; PRHEX (prhex.inc) is appended to this program by the test that runs it.

