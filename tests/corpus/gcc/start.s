! The start of every corpus program: a stack, main, and the end of the run as a
! TRAPA the test driver can see. Also the unsigned division GCC calls (r4 / r5 in r0;
! it may change r1 and r4).
        .text
        .global _start
_start:
        mov.l   .Lstack,r15
        mov.l   .Lmain,r0
        jsr     @r0
        nop
        mov.l   .Lresult,r1
        mov.l   r0,@r1
.Lend:  bra     .Lend
        nop
        .align  2
.Lstack:  .long   0x060FFFF0
.Lmain:   .long   main
.Lresult: .long   result

        .global __udivsi3
__udivsi3:
        mov     #0,r1
        div0u
        .rept   32
        rotcl   r4
        div1    r5,r1
        .endr
        rotcl   r4
        rts
        mov     r4,r0

        .data
        .align  2
        .global result
result: .long   0
