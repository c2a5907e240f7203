#include "AppFixtures.h"

#include "TestSupport.h"
#include "support/Paths.h"

#include <cstdlib>
#include <stdexcept>

namespace vessora::test {

void writePlist(const std::string& path, plist_t dict, PlistFormat format) {
    char* data = nullptr;
    uint32_t length = 0;
    if (format == PlistFormat::xml)
        plist_to_xml(dict, &data, &length);
    else
        plist_to_bin(dict, &data, &length);
    plist_free(dict);
    if (!data) throw std::runtime_error("plist serialisation failed");
    writeText(path, std::string(data, length));
    std::free(data);
}

plist_t stringDict(const std::map<std::string, std::string>& values) {
    plist_t dict = plist_new_dict();
    for (const auto& [key, value] : values) plist_dict_set_item(dict, key.c_str(), plist_new_string(value.c_str()));
    return dict;
}

std::string makeBundle(const std::string& path, const std::map<std::string, std::string>& values, PlistFormat format) {
    makeDirs(Paths::join(path, "Contents/MacOS"));
    if (!values.empty()) writePlist(Paths::join(path, "Contents/Info.plist"), stringDict(values), format);
    return path;
}

InstalledApp app(const std::string& url, const std::string& name, std::optional<std::string> bundleID, AppKind kind) {
    InstalledApp a;
    a.kind = kind;
    a.url = url;
    a.name = name;
    a.bundleID = std::move(bundleID);
    return a;
}

} // namespace vessora::test
