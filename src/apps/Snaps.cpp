#include "apps/Snaps.h"

#include "support/FolderListing.h"
#include "support/Paths.h"
#include "support/WholeFile.h"

#include <yaml-cpp/yaml.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace vessora::Snaps {
namespace {

std::string scalar(const YAML::Node& map, const char* key) {
    const YAML::Node value = map[key];
    return value && value.IsScalar() ? value.as<std::string>() : std::string();
}

} // namespace

bool Snap::isSystem() const {
    static const char* systemTypes[] = {"base", "core", "os", "snapd", "kernel", "gadget"};
    return providesContent ||
           std::any_of(std::begin(systemTypes), std::end(systemTypes), [&](const char* t) { return type == t; });
}

bool parseYaml(const std::string& text, Snap& snap) {
    // yaml-cpp reports malformed input by throwing; nothing leaves this function.
    try {
        const YAML::Node root = YAML::Load(text);
        if (!root.IsMap()) return false;
        if (std::string name = scalar(root, "name"); !name.empty()) snap.name = name;
        snap.title = scalar(root, "title");
        snap.version = scalar(root, "version");
        snap.type = scalar(root, "type");
        if (snap.type.empty()) snap.type = "app";
        if (const YAML::Node slots = root["slots"]; slots && slots.IsMap()) {
            for (const auto& slot : slots) {
                const YAML::Node body = slot.second;
                std::string interface = body.IsScalar() ? body.as<std::string>()
                                        : body.IsMap()  ? scalar(body, "interface")
                                                        : std::string();
                // A slot named "content" with no body is a content slot too.
                if (interface.empty() && body.IsNull()) interface = slot.first.as<std::string>();
                if (interface == "content") snap.providesContent = true;
            }
        }
        return true;
    } catch (const YAML::Exception&) {
        return false;
    }
}

std::vector<Snap> installed(const std::string& root, const std::string& files) {
    std::vector<Snap> snaps;
    std::vector<std::string> names = FolderListing::namesOrEmpty(root);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (name.starts_with('.') || name == "bin") continue;
        const std::string folder = Paths::join(root, name);
        std::optional<std::string> text = WholeFile::read(Paths::join(folder, "current/meta/snap.yaml"));
        if (!text) continue;
        Snap snap;
        snap.name = name;
        if (!parseYaml(*text, snap)) continue;
        // The folder is named after the instance ("name_key" for parallel
        // installs); the yaml names the snap itself.
        snap.name = name;
        snap.folder = folder;
        char target[256];
        ssize_t length = ::readlink(Paths::join(folder, "current").c_str(), target, sizeof target - 1);
        if (length > 0) {
            std::string revision = Paths::lastComponent(std::string(target, size_t(length)));
            std::string file = Paths::join(files, name + "_" + revision + ".snap");
            struct stat st {};
            if (::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
                snap.file = file;
                snap.size = int64_t(st.st_blocks) * 512;
            }
        }
        snaps.push_back(std::move(snap));
    }
    return snaps;
}

} // namespace vessora::Snaps
