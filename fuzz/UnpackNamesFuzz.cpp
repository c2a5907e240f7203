// Zip entry names, link targets and kinds chosen by the input, packed into a
// well-formed archive: whatever they are, the unpacker writes nothing outside
// the folder it is given. One entry per line: a kind letter (f file, d folder,
// l symbolic link, h hard link), the name, and for links a tab and the target.

#include "UnpackSandbox.h"

#include <archive.h>
#include <archive_entry.h>

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in = fuzz::text(data, size);
    std::vector<char> buffer(1 << 20);
    size_t used = 0;
    archive* writer = archive_write_new();
    archive_write_set_format_zip(writer);
    archive_write_open_memory(writer, buffer.data(), buffer.size(), &used);
    int count = 0;
    while (!in.empty() && count++ < 32) {
        size_t end = in.find('\n');
        std::string_view line = in.substr(0, end);
        in = end == std::string_view::npos ? std::string_view{} : in.substr(end + 1);
        if (line.empty()) continue;
        const char kind = line.front();
        line.remove_prefix(1);
        size_t tab = line.find('\t');
        std::string name(line.substr(0, tab));
        std::string target(tab == std::string_view::npos ? std::string_view{} : line.substr(tab + 1));
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, name.c_str());
        archive_entry_set_perm(entry, 0644);
        const std::string content = "content of " + name;
        switch (kind) {
        case 'd':
            archive_entry_set_filetype(entry, AE_IFDIR);
            archive_entry_set_perm(entry, 0755);
            break;
        case 'l':
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink(entry, target.c_str());
            break;
        case 'h':
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_hardlink(entry, target.c_str());
            break;
        default: archive_entry_set_filetype(entry, AE_IFREG); archive_entry_set_size(entry, la_int64_t(content.size()));
        }
        if (archive_write_header(writer, entry) == ARCHIVE_OK && kind != 'd' && kind != 'l' && kind != 'h')
            archive_write_data(writer, content.data(), content.size());
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    fuzz::unpackContained(std::string_view(buffer.data(), used));
    return 0;
}
