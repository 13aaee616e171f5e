// Output file names: the base name is the source name up to a "." found among its
// last four characters; the image is base + ".bin", the listing base + ".log".
#pragma once

#include <string>
#include <string_view>

namespace korvane {

std::string baseName(std::string_view sourceName);

}  // namespace korvane
