#pragma once
// The window's command line: what to show, and whether to save a picture of
// it and quit instead of staying open.

#include "ui/kit/Colors.h"

#include <optional>
#include <string>
#include <vector>

namespace vessora {

struct LaunchOptions {
    std::optional<std::string> screenshot;  // --screenshot FILE
    std::string section = "overview";       // --section overview|browse|cleanup|apps|category.ID|update.STATE
    std::optional<ColorScheme> colorScheme; // --color-scheme light|dark
    std::optional<std::string> scanPath;    // --scan PATH
    std::optional<std::string> compareWith; // --compare FILE|previous: after the scan, compare with it

    // Nothing and a message in `error` for unknown or incomplete options.
    static std::optional<LaunchOptions> parse(const std::vector<std::string>& arguments, std::string& error);
};

} // namespace vessora
