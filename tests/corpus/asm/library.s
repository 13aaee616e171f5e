! Routines in the style of a game library: each with its own pool, reached through a
! jump vector or from nothing at all (the library exports them; this program uses few).
        .text
        .global main
main:
        sts.l   pr,@-r15
        mov.l   r14,@-r15
        mov.l   .Lvectors,r14
        mov.l   @r14,r0            ! vector 0: clear
        mov.l   .Lscreen,r4
        jsr     @r0
        mov     #64,r5
        mov.l   @(4,r14),r0        ! vector 1: checksum
        mov.l   .Lscreen,r4
        jsr     @r0
        mov     #64,r5
        mov.l   @r15+,r14
        lds.l   @r15+,pr
        rts
        nop
        .align  2
.Lvectors:      .long   vectors
.Lscreen:       .long   screen

! Vectors the program calls through.
        .align  2
vectors:
        .long   clear_words
        .long   sum_words
        .long   copy_longs
        .long   fill_pattern

! r4 = address, r5 = words: clears them.
        .align  2
clear_words:
        mov     #0,r0
.Lclear:
        dt      r5
        mov.w   r0,@r4
        bf.s    .Lclear
        add     #2,r4
        rts
        nop

! r4 = address, r5 = words: their sum in r0.
        .align  2
sum_words:
        mov     #0,r0
.Lsum:
        mov.w   @r4+,r1
        extu.w  r1,r1
        dt      r5
        bf.s    .Lsum
        add     r1,r0
        rts
        nop

! r4 = destination, r5 = source, r6 = longs.
        .align  2
copy_longs:
        tst     r6,r6
        bt      .Lcopied
.Lcopy:
        mov.l   @r5+,r0
        dt      r6
        mov.l   r0,@r4
        bf.s    .Lcopy
        add     #4,r4
.Lcopied:
        rts
        nop

! r4 = address, r5 = longs: a fixed pattern from the pool.
        .align  2
fill_pattern:
        mov.l   .Lpattern,r0
        mov.l   .Lmask,r1
.Lfill:
        mov.l   r0,@r4
        xor     r1,r0
        dt      r5
        bf.s    .Lfill
        add     #4,r4
        rts
        nop
        .align  2
.Lpattern:      .long   0x5A5A5A5A
.Lmask:         .long   0x0F0F0F0F

! Nothing calls these: a library's other exports.
        .align  2
        .global set_palette
set_palette:
        mov.l   r14,@-r15
        mov.l   r13,@-r15
        sts.l   pr,@-r15
        mov.l   .Lcram,r14
        mov     r4,r13
        mov     #16,r5
.Lpal:
        mov.w   @r13+,r0
        dt      r5
        mov.w   r0,@r14
        bf.s    .Lpal
        add     #2,r14
        mov.l   .Lvsync,r0
        jsr     @r0
        nop
        lds.l   @r15+,pr
        mov.l   @r15+,r13
        rts
        mov.l   @r15+,r14
        .align  2
.Lcram:         .long   0x25F00000
.Lvsync:        .long   wait_vsync

        .align  2
        .global wait_vsync
wait_vsync:
        mov.l   .Lstatus,r1
        mov.w   .Lvbit,r2
.Lwait:
        mov.w   @r1,r0
        tst     r2,r0
        bt      .Lwait
        rts
        nop
.Lvbit: .word   0x0008
        .align  2
.Lstatus:       .long   0x25F80004

        .align  2
        .global divide
divide:
        mov.l   .Ldvsr,r1
        mov.l   r5,@r1
        mov.l   r4,@(4,r1)
        nop
        mov.l   @(4,r1),r0
        rts
        nop
        .align  2
.Ldvsr:         .long   0xFFFFFF00

        .align  2
        .global strlen
strlen:
        mov     r4,r1
.Lstrlen:
        mov.b   @r1+,r0
        tst     r0,r0
        bf      .Lstrlen
        sub     r4,r1
        rts
        mov     r1,r0

        .align  2
        .global tail_clear
tail_clear:
        mov.l   .Lclear_words,r0
        jmp     @r0
        mov     #32,r5
        .align  2
.Lclear_words:  .long   clear_words

        .align  2
        .global memfill
memfill:
        mov.l   r14,@-r15
        add     #-8,r15
        mov     r15,r14
        mov.l   r4,@r14
        mov.l   r5,@(4,r14)
.Lmf:
        mov.b   r5,@r4
        dt      r6
        bf.s    .Lmf
        add     #1,r4
        add     #8,r14
        mov     r14,r15
        rts
        mov.l   @r15+,r14

        .data
        .align  2
screen: .space  128
title:  .string "KORVANE LIBRARY"
        .align  2
