#include "tools/serial-lab/kernel_errors.h"

#include <array>
#include <cstdlib>
#include <string_view>
#include <utility>

#include <fmt/format.h>

namespace lab {
namespace {

// The kernel's numbering is Linux's; the texts are the C library's, so the lab's messages read
// like those of insmod, stty and setserial. A table rather than strerror keeps them the same on
// any host.
constexpr std::array<std::pair<int, std::string_view>, 20> error_texts{{
    {1, "Operation not permitted"},
    {2, "No such file or directory"},
    {4, "Interrupted system call"},
    {5, "Input/output error"},
    {6, "No such device or address"},
    {8, "Exec format error"},
    {9, "Bad file descriptor"},
    {11, "Resource temporarily unavailable"},
    {12, "Cannot allocate memory"},
    {13, "Permission denied"},
    {14, "Bad address"},
    {16, "Device or resource busy"},
    {17, "File exists"},
    {19, "No such device"},
    {22, "Invalid argument"},
    {25, "Inappropriate ioctl for device"},
    {28, "No space left on device"},
    {34, "Numerical result out of range"},
    {38, "Function not implemented"},
    {110, "Connection timed out"},
}};

}  // namespace

std::string describe_kernel_error(int error_number) {
    const int magnitude = std::abs(error_number);
    for (const auto& [number, text] : error_texts) {
        if (number == magnitude) return fmt::format("-{} {}", magnitude, text);
    }
    return fmt::format("-{} Unknown error {}", magnitude, magnitude);
}

}  // namespace lab
