#include "files/names.h"

namespace korvane {

std::string baseName(std::string_view sourceName) {
    // Only the last four characters are looked at; directory parts get no special care.
    const std::size_t len = sourceName.size();
    for (std::size_t k = 0; k < 4 && k < len; ++k) {
        const std::size_t i = len - 1 - k;
        if (sourceName[i] == '.') return std::string(sourceName.substr(0, i));
    }
    return std::string(sourceName);
}

}  // namespace korvane
