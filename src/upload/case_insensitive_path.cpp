#include "upload/case_insensitive_path.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstddef>

namespace {

bool Exists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

// The entry of directory whose name equals name ignoring ASCII case; the
// first in byte order when there are several. Empty when there is none.
std::string FindEntryIgnoringCase(const std::string& directory, const std::string& name) {
    DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
    if (!dir)
        return {};
    std::string best;
    while (const struct dirent* entry = ::readdir(dir)) {
        if (::strcasecmp(entry->d_name, name.c_str()) != 0)
            continue;
        if (best.empty() || std::string(entry->d_name) < best)
            best = entry->d_name;
    }
    ::closedir(dir);
    return best;
}

}  // namespace

std::string FindFileIgnoringCase(const std::string& path) {
    if (path.empty() || Exists(path))
        return path;
    // Walk component by component; resolved is the existing prefix found so
    // far, ending in '/' unless it is empty.
    std::string resolved = path[0] == '/' ? "/" : "";
    std::size_t start = resolved.size();
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        std::size_t end = slash == std::string::npos ? path.size() : slash;
        std::string component = path.substr(start, end - start);
        if (!component.empty()) {
            if (Exists(resolved + component)) {
                resolved += component;
            } else {
                std::string match = FindEntryIgnoringCase(resolved, component);
                if (match.empty())
                    return path;
                resolved += match;
            }
        }
        if (slash == std::string::npos)
            break;
        if (!component.empty())
            resolved += '/';
        start = slash + 1;
    }
    return resolved;
}
