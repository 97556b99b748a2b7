// The text a user sees for a kernel error number, as the C library spells it.
#pragma once

#include <string>

namespace lab {

// "-22 Invalid argument" for -22 (or 22).
std::string describe_kernel_error(int error_number);

}  // namespace lab
