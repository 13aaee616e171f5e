! The start of every corpus program run under qemu-sh4eb (Linux): main, then its result
! written as 8 hexadecimal digits and a line feed, then exit(0). Also the unsigned
! division GCC calls (r4 / r5 in r0; it may change r1 and r4).
        .text
        .global _start
_start:
        mov.l   .Lmain,r0
        jsr     @r0
        nop
        mov     r0,r8
        mov.l   .Lbuf,r9
        mov     #8,r10
        mova    .Lhex,r0
        mov     r0,r11
.Ldigit:
        mov     r8,r0
        shlr16  r0
        shlr8   r0
        shlr2   r0
        shlr2   r0
        mov.b   @(r0,r11),r0
        mov.b   r0,@r9
        add     #1,r9
        shll2   r8
        dt      r10
        bf.s    .Ldigit
        shll2   r8
        mov     #10,r0
        mov.b   r0,@r9
        mov     #4,r3
        mov     #1,r4
        mov.l   .Lbuf,r5
        mov     #9,r6
        trapa   #0x17
        mov     #1,r3
        mov     #0,r4
        trapa   #0x17
        .align  2
.Lmain:   .long   main
.Lbuf:    .long   outbuf
.Lhex:    .ascii  "0123456789abcdef"

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
outbuf: .space  12
