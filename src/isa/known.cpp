#include "isa/known.h"

#include "isa/isa.h"

namespace korvane::sh2 {

const KnownForms& known() {
    static const KnownForms k = [] {
        auto form = [](std::string_view m, Arg a0, Arg a1) { return FormSet(m).find(a0, a1); };
        KnownForms f{};
        f.mova = form("MOVA", Arg::AtDispPc, Arg::R0);
        f.movRR = form("MOV", Arg::Rm, Arg::Rn);
        f.movImm = form("MOV", Arg::SImm, Arg::Rn);
        f.addRR = form("ADD", Arg::Rm, Arg::Rn);
        f.subRR = form("SUB", Arg::Rm, Arg::Rn);
        f.addImm = form("ADD", Arg::SImm, Arg::Rn);
        f.extuB = form("EXTU.B", Arg::Rm, Arg::Rn);
        f.extuW = form("EXTU.W", Arg::Rm, Arg::Rn);
        f.shll = form("SHLL", Arg::Rn, Arg::None);
        f.shll2 = form("SHLL2", Arg::Rn, Arg::None);
        f.loadR0[0] = form("MOV.B", Arg::AtR0Rm, Arg::Rn);
        f.loadR0[1] = form("MOV.W", Arg::AtR0Rm, Arg::Rn);
        f.loadR0[2] = form("MOV.L", Arg::AtR0Rm, Arg::Rn);
        f.loadAt = form("MOV.L", Arg::AtRm, Arg::Rn);
        f.cmpHi = form("CMP/HI", Arg::Rm, Arg::Rn);
        f.cmpGt = form("CMP/GT", Arg::Rm, Arg::Rn);
        f.cmpHs = form("CMP/HS", Arg::Rm, Arg::Rn);
        f.cmpGe = form("CMP/GE", Arg::Rm, Arg::Rn);
        f.push = form("MOV.L", Arg::Rm, Arg::AtMinusRn);
        f.pushPr = form("STS.L", Arg::PR, Arg::AtMinusRn);
        f.pop = form("MOV.L", Arg::AtRmPlus, Arg::Rn);
        f.popPr = form("LDS.L", Arg::AtRmPlus, Arg::PR);
        f.ldsPr = form("LDS", Arg::Rm, Arg::PR);
        f.rts = FormSet("RTS").only();
        f.bt = FormSet("BT").referring();
        f.bts = FormSet("BT/S").referring();
        f.nopWord = encode(*FormSet("NOP").only(), {});
        return f;
    }();
    return k;
}

const Form* oppositeCondition(const Form& form) {
    static const std::pair<const Form*, const Form*> pairs[] = {
        {FormSet("BT").referring(), FormSet("BF").referring()},
        {FormSet("BT/S").referring(), FormSet("BF/S").referring()},
    };
    for (const auto& [t, f] : pairs) {
        if (&form == t) return f;
        if (&form == f) return t;
    }
    return nullptr;
}

}  // namespace korvane::sh2
