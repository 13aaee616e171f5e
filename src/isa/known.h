// The forms the disassembler's analysis looks for, each found once in the instruction
// table by its mnemonic and operands: the only place outside the table where an
// analysis names an instruction.
#pragma once

#include <cstdint>

#include "korvane/sh2.h"

namespace korvane::sh2 {

struct KnownForms {
    const Form *mova, *movRR, *movImm, *addRR, *subRR, *addImm, *extuB, *extuW, *shll, *shll2;
    const Form* loadR0[3];  // MOV.B, MOV.W, MOV.L @(R0,Rm),Rn
    const Form* loadAt;     // MOV.L @Rm,Rn
    const Form *cmpHi, *cmpGt, *cmpHs, *cmpGe;
    const Form *push, *pushPr, *pop, *popPr;  // MOV.L Rm,@-Rn, STS.L PR, MOV.L @Rm+, LDS.L PR
    const Form* ldsPr;
    const Form* rts;
    const Form *bt, *bts;  // the branches taken when T is set
    std::uint16_t nopWord;  // NOP's whole word, which padding may repeat
};
const KnownForms& known();

// The conditional branch that branches when form does not (BT and BF, BT/S and BF/S),
// or null for any other form.
const Form* oppositeCondition(const Form& form);

}  // namespace korvane::sh2
