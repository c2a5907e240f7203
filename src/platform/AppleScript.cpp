#include "platform/AppleScript.h"

namespace vessora::AppleScript {

std::string escapeStringLiteral(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

std::string administratorShellScript(std::string_view shellCommand) {
    return "do shell script \"" + escapeStringLiteral(shellCommand) + "\" with administrator privileges";
}

} // namespace vessora::AppleScript
