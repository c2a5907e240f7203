// Path helpers: standardizing is idempotent and keeps what a path names;
// splitting a path into parent and last component and joining them back gives
// the path again.

#include "FuzzCheck.h"
#include "support/Paths.h"

using namespace vessora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto [first, second] = fuzz::halves(fuzz::text(data, size));

    const std::string s = Paths::standardize(first);
    FUZZ_CHECK(Paths::standardize(s) == s);
    FUZZ_CHECK(s.empty() == first.empty());
    if (!s.empty() && s != "/") {
        FUZZ_CHECK(!s.ends_with('/'));
        FUZZ_CHECK(s.find("//") == std::string::npos);
        FUZZ_CHECK(Paths::join(Paths::parent(s), Paths::lastComponent(s)) == s);
    }
    if (s.starts_with('/')) {
        // Lexically resolved: nothing is left to climb out with.
        FUZZ_CHECK(s.find("/../") == std::string::npos && !s.ends_with("/.."));
        FUZZ_CHECK(Paths::isInside(s, s) && Paths::isInside(s, "/") && Paths::isInside(s, Paths::parent(s)));
    }

    if (!second.empty() && second.find('/') == std::string_view::npos) {
        const std::string joined = Paths::join(s, second);
        FUZZ_CHECK(Paths::lastComponent(joined) == second);
        FUZZ_CHECK(Paths::parent(joined) == s);
    }

    const std::string extension = Paths::extension(first);
    FUZZ_CHECK(extension.find('/') == std::string::npos);
    if (!extension.empty()) {
        std::string_view trimmed = first;
        while (trimmed.size() > 1 && trimmed.ends_with('/')) trimmed.remove_suffix(1);
        FUZZ_CHECK(Paths::deletingExtension(first) + "." + extension == trimmed);
    } else {
        std::string_view trimmed = first;
        while (trimmed.size() > 1 && trimmed.ends_with('/')) trimmed.remove_suffix(1);
        FUZZ_CHECK(Paths::deletingExtension(first) == trimmed);
    }
    return 0;
}
