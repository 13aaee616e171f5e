// The label table that ends a listing korvane wrote: "labels (N):", then one line per
// label, the name in a field of 20 characters (a local label's scope number at its
// right end), three spaces and "$HEX". Lines end with CR LF (or LF, where a tool has
// converted them).
#include <charconv>

#include "korvane/run.h"

namespace korvane::run {

namespace {

constexpr std::string_view kHead = "labels (";

// The next line of text from at (its end of line left off), at moved past it.
std::string_view nextLine(std::string_view text, std::size_t& at) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    std::string_view line = text.substr(at, end - at);
    at = end == text.size() ? end : end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

}  // namespace

std::string labelTable(std::string_view listing, std::vector<Label>& labels) {
    // The table is the listing's last block: the last line that starts with its head.
    std::size_t head = listing.rfind(std::string("\n") + std::string(kHead));
    head = head == std::string_view::npos ? (listing.starts_with(kHead) ? 0 : head) : head + 1;
    if (head == std::string_view::npos) return "no label table (a listing of a run that failed, or no labels)";
    std::size_t at = head;
    const std::string_view first = nextLine(listing, at);
    std::uint32_t count = 0;
    const char* const digits = first.data() + kHead.size();
    const auto [end, ec] = std::from_chars(digits, first.data() + first.size(), count);
    if (ec != std::errc() || std::string_view(end, static_cast<std::size_t>(first.data() + first.size() - end)) != "):")
        return "not a label table's head: " + std::string(first.substr(0, 40));
    labels.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
        // Every line of the table ends with its line end: one without was cut short.
        if (listing.find('\n', at) == std::string_view::npos)
            return "the label table ends after " + std::to_string(i) + " of its " + std::to_string(count) + " labels";
        const std::string_view line = nextLine(listing, at);
        const std::size_t dollar = line.rfind("   $");
        std::string_view name = line.substr(0, std::min(dollar, line.size()));
        while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
        std::uint32_t value = 0;
        bool read = false;
        if (dollar != std::string_view::npos && !name.empty() && name.front() != ' ') {
            const std::string_view hex = line.substr(dollar + 4);
            const auto [stop, bad] = std::from_chars(hex.data(), hex.data() + hex.size(), value, 16);
            read = bad == std::errc() && !hex.empty() && stop == hex.data() + hex.size();
        }
        if (!read) return "not a line of a label table: " + std::string(line.substr(0, 40));
        // A local label's name holds for its scope only: it names no single address.
        if (name.front() == '@') continue;
        labels.push_back({std::string(name), value});
    }
    return "";
}

}  // namespace korvane::run
