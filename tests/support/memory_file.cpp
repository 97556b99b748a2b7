#include "memory_file.h"

#include <unistd.h>

#include <cerrno>

namespace test_support {

std::string read_whole(int fd)
{
    std::string contents;
    char buffer[4096];
    off_t offset = 0;
    for (;;) {
        const ssize_t got = pread(fd, buffer, sizeof buffer, offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return contents;
        }
        contents.append(buffer, static_cast<size_t>(got));
        offset += got;
    }
}

}  // namespace test_support
