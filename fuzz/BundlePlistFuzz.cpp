// Info.plist in XML or binary form: never aborts (the plist library asserts
// on strings and keys holding a NUL byte), no key or value holds a NUL, and
// what is read survives being written as a plist and read again.

#include "FuzzCheck.h"
#include "apps/BundleInfo.h"
#include "support/Utf8.h"

#include <plist/plist.h>

#include <cstdlib>
#include <map>
#include <string>

using namespace vessora;

namespace {
// Text the XML writer and reader carry unchanged: printable UTF-8.
bool plainText(const std::string& s) {
    if (!Utf8::isValid(s)) return false;
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) return false;
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto info = BundleInfo::parse(fuzz::text(data, size));
    bool plain = true;
    for (const auto& [key, value] : info) {
        FUZZ_CHECK(key.find('\0') == std::string::npos && value.find('\0') == std::string::npos);
        plain = plain && plainText(key) && plainText(value);
    }
    if (!plain || info.empty()) return 0;

    plist_t dict = plist_new_dict();
    for (const auto& [key, value] : info) plist_dict_set_item(dict, key.c_str(), plist_new_string(value.c_str()));
    char* xml = nullptr;
    uint32_t xmlLength = 0;
    plist_to_xml(dict, &xml, &xmlLength);
    char* bin = nullptr;
    uint32_t binLength = 0;
    plist_to_bin(dict, &bin, &binLength);
    plist_free(dict);
    FUZZ_CHECK(xml && bin);
    FUZZ_CHECK(BundleInfo::parse(std::string_view(xml, xmlLength)) == info);
    FUZZ_CHECK(BundleInfo::parse(std::string_view(bin, binLength)) == info);
    plist_to_xml_free(xml);
    plist_to_bin_free(bin);
    return 0;
}
