#pragma once
// The installed snaps, read from each snap's own metadata (meta/snap.yaml in
// its mounted revision) and the size of its downloaded .snap file.

#include <cstdint>
#include <string>
#include <vector>

namespace vessora::Snaps {

struct Snap {
    std::string name;  // the snap (instance) name
    std::string title; // "title:", else empty
    std::string version;
    std::string type;             // "app" when not given
    std::string folder;           // root/<name>
    std::string file;             // the current revision's .snap file; empty when not found
    int64_t size = 0;             // allocated bytes of that file
    bool providesContent = false; // offers a "content" slot (themes, runtimes)
    bool isSystem() const;
    bool operator==(const Snap&) const = default;
};

// Every snap below `root` ("/snap") with a readable meta/snap.yaml in its
// "current" revision; .snap files are looked for in `files`
// ("/var/lib/snapd/snaps"). Sorted by name.
std::vector<Snap> installed(const std::string& root, const std::string& files);

// The parts of a snap.yaml Vessora shows; false when it is not YAML or not a map.
bool parseYaml(const std::string& text, Snap& snap);

} // namespace vessora::Snaps
