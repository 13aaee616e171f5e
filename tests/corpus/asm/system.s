! System code: an exception vector table, interrupt handlers ending in RTE, a BIOS-like
! call table, and routines that load their literals in delay slots.
        .text
        .global main
main:
        sts.l   pr,@-r15
        mov.l   .Linit,r0
        jsr     @r0
        nop
        bra     .Lcalls
        mov.l   .Lcount,r4         ! a literal read in a delay slot
.Lcalls:
        mov.l   @r4,r0
        lds.l   @r15+,pr
        rts
        nop
        .align  2
.Linit:         .long   init
.Lcount:        .long   ticks

! VBR points here: power-on and reset, then the exceptions.
        .align  2
vectors:
        .long   init, 0x06100000, init, 0x06100000
        .long   illegal, illegal, bad_address, bad_address
        .long   nmi, nmi, nmi, nmi

        .align  2
init:
        mov.l   .Lvectors,r0
        ldc     r0,vbr
        mov.l   .Lipra,r1
        mov.w   .Llevel,r0
        mov.w   r0,@r1
        mov     #0,r0
        mov.l   .Lticks,r1
        rts
        mov.l   r0,@r1
.Llevel:        .word   0x0F00
        .align  2
.Lvectors:      .long   vectors
.Lipra:         .long   0xFFFFFEE2
.Lticks:        .long   ticks

        .align  2
illegal:
        mov.l   r0,@-r15
        mov.l   .Lfaults,r0
        mov.l   r1,@-r15
        mov.l   @r0,r1
        add     #1,r1
        mov.l   r1,@r0
        mov.l   @r15+,r1
        mov.l   @r15+,r0
        rte
        nop
        .align  2
.Lfaults:       .long   faults

        .align  2
bad_address:
        bra     illegal
        nop

        .align  2
nmi:
        mov.l   r0,@-r15
        mov.l   r1,@-r15
        mov.l   .Ltick,r1
        mov.l   @r1,r0
        add     #1,r0
        mov.l   r0,@r1
        mov.l   @r15+,r1
        rte
        mov.l   @r15+,r0
        .align  2
.Ltick:         .long   ticks

! A call table: r0 = service number.
        .align  2
        .global service
service:
        mov.l   .Lservices,r1
        shll2   r0
        mov.l   @(r0,r1),r0
        jmp     @r0
        nop
        .align  2
.Lservices:     .long   services
services:
        .long   svc_time, svc_reset, svc_sleep

        .align  2
svc_time:
        mov.l   .Ltime,r1
        rts
        mov.l   @r1,r0
        .align  2
.Ltime:         .long   ticks

        .align  2
svc_reset:
        mov.l   .Lreset,r0
        jmp     @r0
        nop
        .align  2
.Lreset:        .long   init

        .align  2
svc_sleep:
        mov.l   .Lfrt,r1
        mov     #0,r0
        mov.b   r0,@r1
        sleep
        rts
        nop
        .align  2
.Lfrt:          .long   0xFFFFFE10

        .data
        .align  2
ticks:  .long   0
faults: .long   0
