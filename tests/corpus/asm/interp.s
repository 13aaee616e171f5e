! A bytecode interpreter written by hand, as a game's script engine might be: a switch
! through a table of word offsets (MOVA, indexed load, ADD, JMP), handlers called through
! a table of their addresses, strings reached through a table of pointers, a call and a
! jump whose offsets are kept in literals (BSRF, BRAF), and one literal pool shared by
! loads of several routines. main returns a checksum of everything it did.
        .text
        .global main
main:
        sts.l   pr,@-r15
        mov.l   r8,@-r15
        mov.l   r9,@-r15
        mov.l   .Lprogram,r8
        mov     #0,r9
.Lnext:
        mov.b   @r8+,r2            ! opcode
        extu.b  r2,r2
        mov.b   @r8+,r4            ! its operand, a signed byte
        mov     #5,r1
        cmp/hi  r1,r2
        bt      .Lend
        add     r2,r2
        mova    .Lops,r0
        mov.w   @(r0,r2),r1
        add     r0,r1
        jmp     @r1
        nop
        .align  2
.Lops:
        .word   .Lop_add - .Lops
        .word   .Lop_xor - .Lops
        .word   .Lop_call - .Lops
        .word   .Lop_string - .Lops
        .word   .Lop_far - .Lops
        .word   .Lop_store - .Lops
.Lop_add:
        bra     .Lnext
        add     r4,r9
.Lop_xor:
        shll8   r4
        bra     .Lnext
        xor     r4,r9
.Lop_call:                         ! handler r4 & 3, given the accumulator
        mov     r4,r0
        and     #3,r0
        shll2   r0
        mov.l   .Lhandlers,r1
        mov.l   @(r0,r1),r1
        jsr     @r1
        mov     r9,r4
        bra     .Lnext
        mov     r0,r9
.Lop_string:                       ! string r4 & 3 folded into the accumulator
        mov     r4,r0
        and     #3,r0
        shll2   r0
        mov.l   .Lstrings,r1
        mov.l   @(r0,r1),r4
        bsr     strsum
        nop
        bra     .Lnext
        add     r0,r9
.Lop_far:
        mov.l   .Lfar_offset,r1
        bsrf    r1
        mov     r9,r4
.Lfar_return:
        bra     .Lnext
        mov     r0,r9
.Lop_store:                        ! the accumulator kept in counts[r4 & 7]
        mov     r4,r0
        and     #7,r0
        shll2   r0
        mov.l   .Lcounts,r1
        mov.l   r9,@(r0,r1)
        bra     .Lnext
        nop
.Lend:
        mov.l   .Lcounts,r1
        mov     #8,r2
.Lsum:
        mov.l   @r1+,r3
        dt      r2
        bf.s    .Lsum
        add     r3,r9
        mov     r9,r0
        mov.l   @r15+,r9
        mov.l   @r15+,r8
        lds.l   @r15+,pr
        rts
        nop
        .align  2
.Lprogram:      .long   program
.Lhandlers:     .long   handlers
.Lstrings:      .long   strings
.Lcounts:       .long   counts
.Lfar_offset:   .long   far_routine - .Lfar_return

        .align  2
handlers:
        .long   h_double
        .long   h_square
        .long   h_rotate
        .long   h_mix

! r4 -> r0, each; .Lmask is shared by three of them.
h_double:
        mov     r4,r0
        add     r0,r0
        mov.l   .Lmask,r1
        rts
        and     r1,r0
h_square:
        mov.l   .Lmask,r1
        and     r1,r4
        mul.l   r4,r4
        sts     macl,r0
        mov.w   .Lbias,r2
        rts
        add     r2,r0
h_rotate:
        mov.l   .Lscale,r1
        mov.l   @r1,r1
        mov     r4,r0
        rotl    r0
        rotl    r0
        rts
        xor     r1,r0
h_mix:                             ! jumps over its pool, by an offset kept in it
        mov.l   .Lmask,r1
        mov.l   .Lmix_offset,r2
        braf    r2
        and     r1,r4
.Lmix_base:
        .align  2
.Lmix_offset:   .long   .Lmix_go - .Lmix_base
.Lmask:         .long   0x00FFFFFF
.Lscale:        .long   scale
.Lbias:         .short  1000
        .align  1
.Lmix_go:
        mov     r4,r0
        shlr2   r0
        rts
        xor     r4,r0

! r4 = a string: r0 = its bytes folded, twice the sum so far plus the next.
strsum:
        mov     #0,r0
.Lstr:
        mov.b   @r4+,r1
        extu.b  r1,r1
        tst     r1,r1
        bt      .Lstr_end
        shll    r0
        bra     .Lstr
        add     r1,r0
.Lstr_end:
        rts
        nop

! Reached only by the BSRF of main.
far_routine:
        mov.l   .Lscale2,r1
        mov.l   @r1,r1
        mul.l   r1,r4
        sts     macl,r0
        rts
        add     #7,r0
        .align  2
.Lscale2:       .long   scale

        .section .rodata
        .align  2
strings:
        .long   s_hello, s_world, s_name, s_empty
s_hello:        .string "hello"
s_world:        .string "world"
s_name:         .string "KORVANE"
s_empty:        .string ""
program:
        .byte   0,5, 1,3, 2,0, 3,1, 2,1, 4,0, 5,2, 2,2, 3,2, 0,-7, 2,3, 5,7
        .byte   3,0, 4,0, 3,3, 2,0, 1,1, 5,1, 2,3, 3,1, 4,0, 255,0

        .data
        .align  2
scale:  .long   0x9E3779B1
counts: .space  32
