#include "update/UpdateLog.h"

#include "support/Paths.h"
#include "support/Utf8.h"

#include <cerrno>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora::UpdateLog {

namespace {

constexpr off_t rotateAt = 1 << 20;

void makeFolders(const std::string& folder) {
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        ::mkdir(folder.substr(0, slash).c_str(), 0700);
        if (slash == std::string::npos) break;
    }
}

void hexEscape(std::string& out, unsigned char byte) {
    static const char hex[] = "0123456789abcdef";
    out += "\\x";
    out += hex[byte >> 4];
    out += hex[byte & 15];
}

} // namespace

std::string escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const size_t length = Utf8::sequenceLength(text, i);
        // U+0080 to U+009F (C2 80 to C2 9F) are controls as much as C0 ones:
        // U+0085 ends a line for some readers, U+009B starts a terminal command.
        const bool c1 = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (length > 1 && !c1) {
            out.append(text.substr(i, length));
            i += length;
        } else if (c1) {
            hexEscape(out, c);
            hexEscape(out, static_cast<unsigned char>(text[i + 1]));
            i += 2;
        } else {
            if (c == '\\')
                out += "\\\\";
            else if (c < 0x20 || c >= 0x7f)
                hexEscape(out, c);
            else
                out += char(c);
            ++i;
        }
    }
    return out;
}

std::string path() { return Paths::join(Paths::stateFolder(), "update.log"); }

int openForAppend() {
    const std::string file = path();
    makeFolders(Paths::stateFolder());
    struct stat st {};
    if (::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= rotateAt)
        ::rename(file.c_str(), (file + ".1").c_str());
    return ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
}

void append(const std::string& line) {
    int fd = openForAppend();
    if (fd < 0) return;
    char stamp[32];
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::gmtime_r(&now, &tm);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ ", &tm);
    std::string text = stamp + escaped(line) + "\n";
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        p += n;
        left -= size_t(n);
    }
    ::close(fd);
}

std::string tail(int count) {
    std::ifstream in(path());
    std::deque<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(std::move(line));
        if (int(lines.size()) > count) lines.pop_front();
    }
    std::string text;
    for (const std::string& kept : lines) text += kept + "\n";
    return text;
}

} // namespace vessora::UpdateLog
