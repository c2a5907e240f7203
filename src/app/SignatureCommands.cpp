#include "app/SignatureCommands.h"

#include "apps/BundleInfo.h"
#include "update/BundleSignature.h"
#include "update/RunningApp.h"
#include "update/UpdateLog.h"
#include "update/Updater.h"

#include <cstdio>

namespace vessora::SignatureCommands {

std::optional<int> run(const std::vector<std::string>& arguments) {
    if (arguments.size() == 1 && arguments[0] == "--version") {
        auto info = BundleInfo::read(RunningApp::bundle());
        auto version = BundleInfo::stringValue(info, "CFBundleShortVersionString");
        auto build = BundleInfo::stringValue(info, "CFBundleVersion");
        std::printf("Vessora %s (%s)\n", UpdateLog::escaped(version.value_or("?")).c_str(),
                    UpdateLog::escaped(build.value_or("?")).c_str());
        return 0;
    }
    bool verifyOnly = !arguments.empty() && arguments[0] == "--verify-signature";
    bool display = !arguments.empty() && arguments[0] == "--display-signature";
    if (!verifyOnly && !display) return std::nullopt;
    if (arguments.size() != 2) {
        std::fprintf(stderr, "usage: Vessora %s PATH\n", arguments[0].c_str());
        return 2;
    }
    // The install script keeps what this prints in its logs, so every value
    // is escaped: a path or a reason cannot print a line of its own there.
    const std::string& bundle = arguments[1];
    const std::string shown = UpdateLog::escaped(bundle);
    auto verification = BundleSignature::verify(bundle, Updater::releaseKeys());
    if (!verification.valid) {
        std::fprintf(stderr, "%s: invalid signature: %s\n", shown.c_str(),
                     UpdateLog::escaped(verification.reason).c_str());
        return 1;
    }
    if (display) {
        auto identifier = BundleInfo::stringValue(BundleInfo::read(bundle), "CFBundleIdentifier");
        std::printf("Executable=%s\nIdentifier=%s\n%s%s\n", shown.c_str(),
                    UpdateLog::escaped(identifier.value_or("?")).c_str(), BundleSignature::teamPrefix,
                    UpdateLog::escaped(verification.team).c_str());
    } else {
        std::fprintf(stderr, "%s: valid signature\n", shown.c_str());
    }
    return 0;
}

} // namespace vessora::SignatureCommands
