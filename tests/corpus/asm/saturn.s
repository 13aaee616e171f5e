! In the style of the Saturn era's compilers and hand-written game code: BSR to
! routines placed later, data addressed through GBR, a state machine behind a table
! indexed by a byte (no bound: the states are trusted), a table of call offsets behind
! BSRF, routines reached only through a structure of callbacks stored at run time, and
! an error routine that never returns. main returns a checksum of all of it.
        .text
        .global main
main:
        sts.l   pr,@-r15
        mov.l   r8,@-r15
        mov.l   r9,@-r15
        mov.l   .Lwork,r0
        ldc     r0,gbr
        mov     #0,r8           ! the checksum
        bsr     register        ! fills the callback structure
        nop
        bsr     run_states      ! the state machine over its script
        nop
        add     r0,r8
        mov     #0,r9
.Lcalls:
        mov     r9,r4
        bsr     call_by_offset
        nop
        add     r0,r8
        add     #1,r9
        mov     #3,r0
        cmp/eq  r0,r9
        bf      .Lcalls
        mov.l   .Lcallbacks,r1
        mov.l   @r1,r2          ! callbacks.init
        jsr     @r2
        mov     r8,r4
        mov     r0,r8
        mov.l   .Lcallbacks,r1
        mov.l   @(4,r1),r2      ! callbacks.step
        jsr     @r2
        mov     r8,r4
        mov     r0,r8
        mov.l   @(0,gbr),r0     ! what the callbacks left
        add     r0,r8
        mov     r8,r4
        bsr     check
        nop
        mov     r8,r0
        mov.l   @r15+,r9
        mov.l   @r15+,r8
        lds.l   @r15+,pr
        rts
        nop
        .align  2
.Lwork:      .long   work
.Lcallbacks: .long   callbacks

! Registers the callbacks: their addresses are stored, never called here.
register:
        mov.l   .Lcb,r1
        mov.l   .Linit,r2
        mov.l   r2,@r1
        mov.l   .Lstep,r2
        rts
        mov.l   r2,@(4,r1)
        .align  2
.Lcb:   .long   callbacks
.Linit: .long   cb_init
.Lstep: .long   cb_step

! The state machine: each byte of the script is a state; 3 ends it. No bound check.
run_states:
        mov.l   .Lscript,r5
        mov     #0,r6
.Lnext:
        mov.b   @r5+,r1
        add     r1,r1
        mova    .Lstates,r0
        mov.w   @(r0,r1),r1
        braf    r1
        nop
.Lstates_base:
        .align  2
.Lstates:
        .short  .Ls0-.Lstates_base, .Ls1-.Lstates_base, .Ls2-.Lstates_base, .Ls3-.Lstates_base
.Ls0:   bra     .Lnext
        add     #1,r6
.Ls1:   bra     .Lnext
        add     #10,r6
.Ls2:   mov.w   @(2,gbr),r0
        add     r0,r6
        bra     .Lnext
        nop
.Ls3:   rts
        mov     r6,r0
        .align  2
.Lscript: .long script

! One of three routines, by a table of offsets from the BSRF's return address.
call_by_offset:
        sts.l   pr,@-r15
        shll    r4
        mova    .Loffsets,r0
        mov.w   @(r0,r4),r1
        bsrf    r1
        nop
.Lreturn:
        lds.l   @r15+,pr
        rts
        nop
        .align  2
.Loffsets:
        .short  first-.Lreturn, second-.Lreturn, third-.Lreturn

first:  rts
        mov     #7,r0
second: mov     #9,r0
        rts
        shll    r0
third:  mov.w   @(2,gbr),r0
        rts
        add     #3,r0

cb_init:
        mov     r4,r0
        mov.l   r0,@(0,gbr)
        rts
        add     #2,r0

cb_step:
        mov     r4,r0
        shll2   r0
        rts
        add     r4,r0

! The checksum must be even: otherwise the error routine, which never returns.
check:
        mov     r4,r0
        tst     #1,r0
        bf      .Lbad
        rts
        nop
.Lbad:
        mov.l   .Lfail,r1
        sts.l   pr,@-r15
        jsr     @r1
        mov     #1,r4
        .align  2
.Lfail: .long   fail

fail:
        bra     fail
        nop

        .data
        .align  2
work:   .long   0
        .short  0, 5
callbacks:
        .long   0, 0
script: .byte   0, 1, 2, 0, 1, 3
