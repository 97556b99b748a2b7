#pragma once

// Output of a child program goes to memory files rather than pipes: a chatty program can never
// block on a full pipe while the test waits for it to exit.

#include <string>

namespace test_support {

// Everything written to the file behind `fd` so far, read from offset 0.
std::string read_whole(int fd);

}  // namespace test_support
