! Idioms of code nobody here wrote, which make edits hard to keep: tables without a
! bound (an index the code trusts) dispatched by ADD R0,Rn; JMP @Rn and by BRAF, a table
! of function pointers behind a tail call, tables of pointers into the middles of each
! other's entries and of a string, and a literal that equals an address in the image
! but is only a number. main returns a checksum of all of it.
        .text
        .global main
main:
        sts.l   pr,@-r15
        mov.l   r8,@-r15
        mov.l   r9,@-r15
        mov     #0,r8           ! the checksum
        mov     #0,r9           ! the index, 0 to 3
.Lloop:
        mov     r9,r4
        bsr     by_add          ! a relative table behind ADD R0,Rn; JMP @Rn
        nop
        add     r0,r8
        mov     r9,r4
        bsr     by_braf         ! a relative table behind BRAF, from after its slot
        nop
        add     r0,r8
        mov     r9,r4
        mov     r8,r5
        bsr     call_handler    ! a table of code pointers behind a tail call
        nop
        add     r0,r8
        add     #1,r9
        mov     #4,r1
        cmp/hs  r1,r9
        bf      .Lloop
        bsr     middles         ! pointers into the middles of other entries
        nop
        add     r0,r8
        mov.l   .Lnumber,r1     ! a number that equals an address in the image
        add     r1,r8
        mov     r8,r0
        mov.l   @r15+,r9
        mov.l   @r15+,r8
        lds.l   @r15+,pr
        rts
        nop
        .align  2
.Lnumber:
        .long   0x00400010

! r4 in 0..3: no bound check, the caller's index is trusted.
by_add:
        mova    .Ladd_table,r0
        add     r4,r4
        mov.w   @(r0,r4),r1
        add     r0,r1
        jmp     @r1
        nop
        .align  2
.Ladd_table:
        .short  .Ladd0-.Ladd_table, .Ladd1-.Ladd_table, .Ladd2-.Ladd_table, .Ladd3-.Ladd_table
.Ladd0: rts
        mov     #3,r0
.Ladd1: rts
        mov     #5,r0
.Ladd2: mov     #7,r0
        rts
        add     r0,r0
.Ladd3: rts
        mov     #11,r0

by_braf:
        mova    .Lbraf_table,r0
        add     r4,r4
        mov.w   @(r0,r4),r1
        braf    r1
        nop
.Lbraf_base:
        .align  2
.Lbraf_table:
        .short  .Lbraf0-.Lbraf_base, .Lbraf1-.Lbraf_base, .Lbraf2-.Lbraf_base, .Lbraf3-.Lbraf_base
.Lbraf0:
        rts
        mov     #13,r0
.Lbraf1:
        rts
        mov     #17,r0
.Lbraf2:
        rts
        mov     #19,r0
.Lbraf3:
        mov     #23,r0
        rts
        shll    r0

! handlers[r4](r5): the entry loaded, then a tail call.
call_handler:
        mov.l   .Lhandlers,r1
        mov     r4,r0
        shll2   r0
        mov.l   @(r0,r1),r2
        mov     r2,r3
        jmp     @r3
        mov     r5,r4
        .align  2
.Lhandlers:
        .long   handlers

h0:     rts
        mov     r4,r0
h1:     mov     r4,r0
        rts
        add     #29,r0
h2:     mov     r4,r0
        rts
        shlr    r0
h3:     mov     r4,r0
        rts
        not     r0,r0

! Sums the bytes the pointers of `pointing` name: each points into the middle of an
! entry of `pointed`, of an instruction or of a string.
middles:
        mov.l   .Lpointing,r1
        mov     #0,r0
        mov     #4,r2
.Lnext: mov.l   @r1+,r3
        mov.b   @r3,r3
        extu.b  r3,r3
        dt      r2
        bf/s    .Lnext
        add     r3,r0
        rts
        nop
        .align  2
.Lpointing:
        .long   pointing

        .data
        .align  2
handlers:
        .long   h0, h1, h2, h3
pointing:
        .long   pointed+1, pointed+6, h1+1, text+3
pointed:
        .long   0x11223344, 0x55667788
text:   .string "middles"
