; reverse.s - copies a string backwards into a buffer and prints it.
        SETPC   $400000
START:  MOVA    @(TEXT,PC),R0
        MOV     R0,R1           ; source
        MOV.L   @(PBUF,PC),R2   ; buffer
        MOV     #18,R3          ; length
        MOV     R2,R5           ; where write() will start
        MOV     R3,R6
        ADD     R3,R2           ; the copy runs down from the buffer's end
@COPY:  MOV.B   @R1+,R0
        DT      R3
        BF/S    @COPY
        MOV.B   R0,@-R2         ; (delay slot)
        ADD     #1,R6           ; and the line feed after it
        MOV     #4,R3
        MOV     #1,R4
        TRAPA   #$17
        MOV     #1,R3
        MOV     #0,R4
        TRAPA   #$17
        ALIGN.L
PBUF:   DC.L    BUFFER
TEXT:   DC.B    "Hello, SH-2 world!"
BUFFER: DC.B    "..................",10
