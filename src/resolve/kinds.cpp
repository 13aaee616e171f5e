#include "resolve/kinds.h"

namespace korvane::detail {

namespace {

struct Branch12 {
    const sh2::Form* bra = sh2::FormSet("BRA").only();
    const sh2::Form* bsr = sh2::FormSet("BSR").only();
};

const Branch12& branch12() {
    static const Branch12 forms;
    return forms;
}

}  // namespace

RefKind referenceKind(const sh2::Form& form) {
    switch (form.reach) {
        case sh2::Reach::Branch8:
            return REF_BRANCH8;
        case sh2::Reach::Branch12:
            return &form == branch12().bsr ? REF_BSR12 : REF_BRA12;
        case sh2::Reach::PcWord:
            return REF_PCREL_WORD;
        case sh2::Reach::PcLong:
            return REF_PCREL_LONG;
        case sh2::Reach::None:
            break;
    }
    return REF_ABS32;
}

const sh2::Form& branch12Form(RefKind kind) {
    return kind == REF_BSR12 ? *branch12().bsr : *branch12().bra;
}

}  // namespace korvane::detail
