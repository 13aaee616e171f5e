ORG $10020F0
; demo.s - sums a
        IDATA   IN "a.bin""R1,R0
        BF      @DEC
        ADD #7,R0           ; A..F
@DEC:  MOV     #1,R4
        TRAPXT: DC.B    "chec              2-bit constant from the l  XOR     R2Iÿ,R9
        MOVA    @(CHKD   what is     éÿE N(OP..>5",