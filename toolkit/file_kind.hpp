#pragma once
// What kind of file a stat mode describes, for messages about files that are
// not regular files ("... it is a folder").
#include <sys/stat.h>

#include <string>

namespace ocu::detail {

inline std::string file_kind(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a named pipe (FIFO)";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISREG(mode)) return "a regular file";
    return "not a regular file";
}

}  // namespace ocu::detail
