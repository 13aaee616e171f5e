; demo.s - sums a table of 32-bit words and prints the sum and a checksum
; in hexadecimal. Runs as a Linux program at $400000 (see the README).
;
; Linux system calls: TRAPA #$17 with R3 = call number, R4..R6 = arguments.

        SETPC   $400000

START:  MOV.L   @(PTABLE,PC),R8 ; R8 walks the table
        MOV     #8,R10          ; R10 counts the entries
        MOV     #0,R9           ; R9 = sum
@LOOP:  MOV.L   @R8+,R1
        DT      R10
        BF/S    @LOOP
        ADD     R1,R9           ; (delay slot) add while branching

        MOVA    @(SUMTXT,PC),R0 ; "sum      "
        BSR     PUTS
        MOV     R0,R5           ; (delay slot) text to print
        BSR     PRHEX
        MOV     R9,R4           ; (delay slot) value to print

        IMOV.L  #$5A5A5A5A,R1   ; a 32-bit constant from the literal pool
        XOR     R1,R9
        MOVA    @(CHKTXT,PC),R0 ; "checksum "
        BSR     PUTS
        MOV     R0,R5
        BSR     PRHEX
        MOV     R9,R4

        MOV     #1,R3           ; exit(0)
        MOV     #0,R4
        TRAPA   #$17

; PUTS: writes the 9 bytes at R5 to standard output.
PUTS:   MOV     #9,R6
        MOV     #4,R3           ; write(1, R5, R6)
        MOV     #1,R4
        TRAPA   #$17
        RTS
        NOP

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

        IDATA                   ; the IMOV.L constants go here
PTABLE: DC.L    TABLE
TABLE:  DC.L    1,2,3,$10,$100,$1000,$FFFFFFFF,$12345678
SUMTXT: DC.B    "sum      "
        ALIGN.L
CHKTXT: DC.B    "checksum "

; SUMXOR: the same sum and checksum as a routine of its own, the one the README runs
; with korvane-run: R0 = (the sum of the R5 longs at R4) XOR $5A5A5A5A.
        ALIGN.L
SUMXOR: MOV     #0,R0
@ADD:   MOV.L   @R4+,R1
        DT      R5
        BF/S    @ADD
        ADD     R1,R0           ; (delay slot)
        MOV.L   @(KEY,PC),R1
        RTS
        XOR     R1,R0           ; (delay slot)
        ALIGN.L
KEY:    DC.L    $5A5A5A5A
