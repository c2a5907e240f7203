#include "app/LaunchOptions.h"

namespace vessora {

std::optional<LaunchOptions> LaunchOptions::parse(const std::vector<std::string>& arguments, std::string& error) {
    LaunchOptions options;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        auto value = [&]() -> const std::string* {
            if (i + 1 >= arguments.size()) {
                error = option + " needs a value.";
                return nullptr;
            }
            return &arguments[++i];
        };
        if (option == "--screenshot") {
            auto v = value();
            if (!v) return std::nullopt;
            options.screenshot = *v;
        } else if (option == "--section") {
            auto v = value();
            if (!v) return std::nullopt;
            options.section = *v;
        } else if (option == "--color-scheme") {
            auto v = value();
            if (!v) return std::nullopt;
            if (*v == "light")
                options.colorScheme = ColorScheme::light;
            else if (*v == "dark")
                options.colorScheme = ColorScheme::dark;
            else {
                error = "--color-scheme takes light or dark, not " + *v + ".";
                return std::nullopt;
            }
        } else if (option == "--scan") {
            auto v = value();
            if (!v) return std::nullopt;
            options.scanPath = *v;
        } else if (option == "--compare") {
            auto v = value();
            if (!v) return std::nullopt;
            options.compareWith = *v;
        } else if (option.rfind("-psn_", 0) == 0 || option.rfind("-platform", 0) == 0 || option == "-style") {
            // Toolkit options are left to QApplication, which has taken them already.
        } else {
            error = "Unknown option: " + option;
            return std::nullopt;
        }
    }
    return options;
}

} // namespace vessora
