#pragma once
#include <string_view>
#include <vector>

namespace vessora {

// The lines of a tool's or a kernel file's text, without their line feeds; a
// last line without a line feed counts too. The views point into `text`.
inline std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

} // namespace vessora
