; Every instruction form, one statement a line, with the word(s) it must produce
; (or !operand / !missing / !range / !address for the error it must give). Each line is assembled alone.

; no operands
CLRMAC                            ; 0028
CLRT                              ; 0008
DIV0U                             ; 0019
NOP                               ; 0009
RTE                               ; 002B
RTS                               ; 000B
SETT                              ; 0018
SLEEP                             ; 001B
RTS R1                            ; 000B
nop                               ; 0009

; one register
BRAF R0                           ; 0023
BSRF R15                          ; 0F03
CMP/PL R7                         ; 4715
CMP/PZ R0                         ; 4011
DT R15                            ; 4F10
JMP @R7                           ; 472B
JSR @R0                           ; 400B
MOVT R15                          ; 0F29
ROTL R7                           ; 4704
ROTR R0                           ; 4005
ROTCL R15                         ; 4F24
ROTCR R7                          ; 4725
SHAL R0                           ; 4020
SHAR R15                          ; 4F21
SHLL R7                           ; 4700
SHLR R0                           ; 4001
SHLL2 R15                         ; 4F08
SHLR2 R7                          ; 4709
SHLL8 R0                          ; 4018
SHLR8 R15                         ; 4F19
SHLL16 R7                         ; 4728
SHLR16 R0                         ; 4029
TAS.B @R15                        ; 4F1B
JMP R3                            ; 432B
JMP (R3)                          ; 432B
shll r0                           ; 4000
DT R1,R2                          ; 4110
JMP                               ; !missing
JMP #5                            ; !operand
JMP LABEL                         ; !operand
JMP SR                            ; !operand

; two registers, source first
ADDC R1,R2                        ; 321E
ADDV R15,R0                       ; 30FF
CMP/GE R0,R15                     ; 3F03
CMP/GT R9,R10                     ; 3A97
CMP/HI R1,R2                      ; 3216
CMP/HS R15,R0                     ; 30F2
CMP/STR R0,R15                    ; 2F0C
DIV0S R9,R10                      ; 2A97
DIV1 R1,R2                        ; 3214
DMULS.L R15,R0                    ; 30FD
DMULU.L R0,R15                    ; 3F05
EXTS.B R9,R10                     ; 6A9E
EXTS.W R1,R2                      ; 621F
EXTU.B R15,R0                     ; 60FC
EXTU.W R0,R15                     ; 6F0D
MAC.L @R9+,@R10+                  ; 0A9F
MAC.W @R1+,@R2+                   ; 421F
MUL.L R15,R0                      ; 00F7
MULS.W R0,R15                     ; 2F0F
MULU.W R9,R10                     ; 2A9E
NEGC R1,R2                        ; 621A
NEG R15,R0                        ; 60FB
NOT R0,R15                        ; 6F07
SUB R9,R10                        ; 3A98
SUBC R1,R2                        ; 321A
SUBV R15,R0                       ; 30FB
SWAP.B R0,R15                     ; 6F08
SWAP.W R9,R10                     ; 6A99
XTRCT R1,R2                       ; 221D
MAC.L R1,R2                       ; 021F
SUB R1,R2                         ; 3218
CMP/STR R3,R4                     ; 243C
XTRCT R15,R0                      ; 20FD
ADDC R1                           ; !missing
ADDC #1,R2                        ; !operand
ADDC R1,GBR                       ; !operand

; STC, STS (the operands choose the word, not the mnemonic)
STC SR,R1                         ; 0102
STC GBR,R0                        ; 0012
STC VBR,R15                       ; 0F22
STS MACH,R1                       ; 010A
STS MACL,R3                       ; 031A
STS PR,R9                         ; 092A
STC.L SR,@-R15                    ; 4F03
STC.L GBR,@-R2                    ; 4213
STC.L VBR,@-R2                    ; 4223
STS.L MACH,@-R0                   ; 4002
STS.L MACL,@-R7                   ; 4712
STS.L PR,@-R15                    ; 4F22
STC MACH,R1                       ; 010A
STC.L SR,R1                       ; 0102
STC SR,@R1                        ; 4103
STC SR,-R1                        ; 4103
STC PC,R1                         ; !operand
STC R1,SR                         ; !operand
STS MACH                          ; !missing

; 8-bit immediates alone
TRAPA #32                         ; C320
TRAPA #$FF                        ; C3FF
TRAPA #-1                         ; C3FF
TRAPA #256                        ; !range
TRAPA #$FFFFFFFF                  ; C3FF
TRAPA #-129                       ; !range
OR.B #-1,@(R0,GBR)                ; CFFF
OR.B #256                         ; !range
AND.B #-128,@(R0,GBR)             ; CD80
XOR.B #$FFFFFF7F,@(R0,GBR)        ; !range
OR.B #256,@R1                     ; !operand
AND.B #$0F,@(R0,GBR)              ; CD0F
TST.B #1,@(R0,GBR)                ; CC01
OR.B #1                           ; CF01
OR.B #$80,@(R0,GBR)               ; CF80
XOR.B #255,@(R0,GBR)              ; CEFF
AND.B #1,[R0,GBR]                 ; CD01
OR.B #1,                          ; CF01
TST.B #1,(R0,GBR)                 ; CC01
TRAPA #1,@R1                      ; C301
AND.B #1,@R1                      ; !operand
TST.B #1,@(R0,R1)                 ; !operand
OR.B #1,@(GBR,R0)                 ; !operand
XOR.B #1,@(R1,GBR)                ; !operand
AND.B #1,@(4,GBR)                 ; !operand
TST.B #1,@(R0,GBR+)               ; !operand
XOR.B #1,-@(R0,GBR)               ; !operand
OR.B #1,R0                        ; !operand
AND.B #1,GBR                      ; !operand
AND.B #1,LABEL                    ; !operand
AND.B R0,@(R0,GBR)                ; !operand
TRAPA R1                          ; !operand
TRAPA LABEL                       ; !operand
TRAPA                             ; !missing

; LDC, LDS
LDC R1,SR                         ; 410E
LDS R2,PR                         ; 422A
LDC R15,VBR                       ; 4F2E
LDS R0,MACL                       ; 401A
LDS R3,MACH                       ; 430A
LDC R4,GBR                        ; 441E
LDC.L @R15+,SR                    ; 4F07
LDS.L @R15+,PR                    ; 4F26
LDC.L @R3+,GBR                    ; 4317
LDC.L @R1+,VBR                    ; 4127
LDS.L @R2+,MACH                   ; 4206
LDS.L @R0+,MACL                   ; 4016
LDS R1,SR                         ; 410E
LDC.L R2,GBR                      ; 421E
LDC @R4+,VBR                      ; 4427
ldc r1,sr                         ; 410E
LDC R1,PC                         ; !operand
LDC SR,R1                         ; !operand
LDC #1,SR                         ; !operand
LDC R1                            ; !missing

; the addressing family: register forms
ADD R1,R2                         ; 321C
AND R3,R4                         ; 2439
CMP/EQ R0,R15                     ; 3F00
MOV R15,R0                        ; 60F3
OR R5,R6                          ; 265B
TST R1,R1                         ; 2118
XOR R7,R8                         ; 287A
MOV.B R1,@R2                      ; 2210
MOV.W R1,@R2                      ; 2211
MOV.L R1,@R2                      ; 2212
MOV.B R3,@-R4                     ; 2434
MOV.W R3,@-R4                     ; 2435
MOV.L R1,@-R15                    ; 2F16
MOV.B @R1,R2                      ; 6210
MOV.W @R1,R2                      ; 6211
MOV.L @R1,R2                      ; 6212
MOV.B @R5+,R6                     ; 6654
MOV.W @R5+,R6                     ; 6655
MOV.L @R15+,R1                    ; 61F6
MOV.L R1,(R2)                     ; 2212
MOV.L (R1),R2                     ; !missing

; the addressing family: immediates
ADD #-2,R15                       ; 7FFE
ADD #4,R2                         ; 7204
MOV #-1,R3                        ; E3FF
MOV #255,R3                       ; E3FF
MOV #$123,R3                      ; !range
MOV #300,R1                       ; !range
MOV #-128,R1                      ; E180
MOV #255,R1                       ; E1FF
MOV #256,R1                       ; !range
MOV #-129,R1                      ; !range
MOV #$FFFFFF80,R1                 ; E180
MOV #$7FFFFFFF,R1                 ; !range
ADD #128,R1                       ; 7180
AND #$FF,R0                       ; C9FF
TST #$100,R0                      ; !range
CMP/EQ #-129,R0                   ; !range
MOV #0X7F,R0                      ; E07F
AND #1,R0                         ; C901
CMP/EQ #3,R0                      ; 8803
OR #$F0,R0                        ; CBF0
TST #$80,R0                       ; C880
XOR #-128,R0                      ; CA80

; the addressing family: pairs
MOV.L @(8,R4),R5                  ; 5542
MOV.W @(6,R4),R0                  ; 8543
MOV.B @(4,R1),R0                  ; 8414
MOV.L @(64,R1),R2                 ; !address
MOV.L @(-4,R1),R2                 ; !address
MOV.L @(3,R1),R2                  ; !address
MOV.L @(60,R4),R5                 ; 554F
MOV.B @(16,R2),R0                 ; !address
MOV.W @(7,R4),R0                  ; !address
MOV.W @(32,R4),R0                 ; !address
MOV.L R1,@(62,R4)                 ; !address
MOV.L R1,@(64,R4)                 ; !address
MOV.B R0,@(-1,R3)                 ; !address
MOV.W R0,@(510,GBR)               ; C1FF
MOV.W R0,@(512,GBR)               ; !address
MOV.L @(1024,GBR),R0              ; !address
MOV.L @(1022,GBR),R0              ; !address
MOV.B @(256,GBR),R0               ; !address
MOV.L @(60,R15),R0                ; 50FF
MOV.B @(15,R2),R0                 ; 842F
MOV.W @(30,R2),R0                 ; 852F
MOV.L @(R4,8),R5                  ; 5542
MOV.B @(R0,R4),R1                 ; 014C
MOV.W @(R0,R4),R1                 ; 014D
MOV.L @(R0,R4),R1                 ; 014E
MOV.L @(R0,R0),R1                 ; 010E
MOV.B R1,@(R0,R4)                 ; 0414
MOV.W R1,@(R0,R4)                 ; 0415
MOV.L R1,@(R0,R4)                 ; 0416
MOV.B R0,@(3,R4)                  ; 8043
MOV.W R0,@(6,R4)                  ; 8143
MOV.L R1,@(12,R4)                 ; 1413
MOV.L R15,@(60,R0)                ; 10FF
MOV.L @(8,GBR),R0                 ; C602
MOV.W @(10,GBR),R0                ; C505
MOV.B @(255,GBR),R0               ; C4FF
MOV.B R0,@(5,GBR)                 ; C005
MOV.W R0,@(10,GBR)                ; C105
MOV.L R0,@(1020,GBR)              ; C2FF
MOV.L R0,[8,GBR]                  ; C202

; the addressing family: forms that are refused
MOV.B @(8,GBR),R1                 ; !operand
MOV.B R1,@(5,GBR)                 ; !operand
MOV.L #5,R1                       ; !operand
MOV.B @R1,@R2                     ; !operand
MOVA @(LABEL,PC),R1               ; !operand
MOV.L @(4,PC),R1                  ; !operand
ADD @(4,R1),R2                    ; !operand
MOV @(4,GBR),R1                   ; !operand
MOV @5,R1                         ; !operand
MOV #5,@R2                        ; !operand
AND #1,R5                         ; !operand
CMP/EQ #1,R2                      ; !operand
OR #1,R3                          ; !operand
TST #1,R4                         ; !operand
XOR #1,R9                         ; !operand
MOV.B @(4,R1),R2                  ; !operand
MOV.W @(2,R1),R3                  ; !operand
MOV.L @(R1,R2),R3                 ; !operand
MOV.L @(4,R1),@R2                 ; !operand
MOV.L @(R4,R0),R1                 ; !operand
MOV.L R1,@(R4,R0)                 ; !operand
MOV.L R1,@R2+                     ; !operand
MOV.L @-R1,R2                     ; !operand
ADD R1,-R2                        ; !operand
MOV.L -R1,@(R0,R2)                ; !operand
MOV.L R1+,R2                      ; !operand
MOV.L R1,-R2                      ; !operand
MOV R1,@R2                        ; !operand
ADD @R1,R2                        ; !operand
MOV.L @(4,),R1                    ; !operand
MOV.L @(R0,),R1                   ; !operand
MOV.L R1,@(R0,)                   ; !operand
ADD R1,@(R0,R2)                   ; !operand
MOV.B R1,@(3,R4)                  ; !operand
MOV.L GBR,R1                      ; !operand
MOV.L LABEL,R1                    ; !operand
MOV.L @(R0,R1),@(R0,R2)           ; !operand
MOVA @(4,R1),R0                   ; !operand
ADD #1,@(R0,R2)                   ; !operand
MOV.L @(4,R1+),R2                 ; !operand
MOV.L @(,R1),R2                   ; !missing
MOV.L                             ; !missing
ADD R1                            ; !missing
MOV.L R1,                         ; !missing
