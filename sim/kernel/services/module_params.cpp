// The parameter types' set and get functions that modules name in their parameter descriptors.
// A value is taken whole or refused with -22: no sign, no trailing text (one trailing newline,
// as a write to the parameter file brings, is allowed), nothing out of the type's range. An
// array takes all of its comma-separated elements or none: a refused element leaves the array
// as it was.
#include "drivers/serial/kernel/module.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "drivers/serial/kernel/errors.h"
#include "sim/kernel/machine.h"
#include "sim/kernel/module/param_parse.h"

namespace {

template <typename T>
int set_number(const char* value, kernel_param* param, std::uint64_t max) {
    if (value == nullptr || param == nullptr || param->arg == nullptr) return -kerr::inval;
    const auto parsed = sim::kernel::parse_unsigned(value, max);
    if (!parsed) return -kerr::inval;
    *static_cast<T*>(param->arg) = static_cast<T>(*parsed);
    return 0;
}

template <typename T>
int get_number(char* buffer, kernel_param* param, const char* format) {
    if (buffer == nullptr || param == nullptr || param->arg == nullptr) return -kerr::inval;
    return std::snprintf(buffer, param_buffer_size, format, *static_cast<T*>(param->arg));
}

void log_error(const std::string& text) {
    if (auto* machine = sim::kernel::Machine::current_or_null()) machine->log().write(text);
}

}  // namespace

extern "C" int param_set_uint(const char* value, kernel_param* param) {
    return set_number<unsigned int>(value, param, UINT_MAX);
}

extern "C" int param_get_uint(char* buffer, kernel_param* param) {
    return get_number<unsigned int>(buffer, param, "%u");
}

extern "C" int param_set_ulong(const char* value, kernel_param* param) {
    return set_number<unsigned long>(value, param, ULONG_MAX);
}

extern "C" int param_get_ulong(char* buffer, kernel_param* param) {
    return get_number<unsigned long>(buffer, param, "%lu");
}

extern "C" int param_array_set(const char* value, kernel_param* param) {
    if (param == nullptr || param->arg == nullptr) return -kerr::inval;
    auto* array = static_cast<kparam_array*>(param->arg);
    const char* name = param->name != nullptr ? param->name : "?";
    if (value == nullptr) {
        log_error(fmt::format("<3>{}: expects arguments\n", name));
        return -kerr::inval;
    }
    if (array->set == nullptr || array->elem == nullptr || array->elemsize == 0) {
        return -kerr::inval;
    }
    std::string text(value);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    std::vector<std::string> elements;
    for (std::size_t start = 0;;) {
        const std::size_t comma = text.find(',', start);
        elements.push_back(text.substr(start, comma == std::string::npos ? std::string::npos
                                                                         : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (elements.size() > array->max) {
        log_error(fmt::format("<3>{}: can only take {} arguments\n", name, array->max));
        return -kerr::inval;
    }
    auto* storage = static_cast<unsigned char*>(array->elem);
    const std::size_t bytes = static_cast<std::size_t>(array->max) * array->elemsize;
    std::vector<unsigned char> saved(storage, storage + bytes);
    for (std::size_t i = 0; i < elements.size(); ++i) {
        kernel_param element = *param;
        element.arg = storage + i * array->elemsize;
        const int result = array->set(elements[i].c_str(), &element);
        if (result != 0) {
            std::memcpy(storage, saved.data(), bytes);
            return result;
        }
    }
    if (array->num != nullptr) *array->num = static_cast<unsigned int>(elements.size());
    return 0;
}

extern "C" int param_array_get(char* buffer, kernel_param* param) {
    if (buffer == nullptr || param == nullptr || param->arg == nullptr) return -kerr::inval;
    auto* array = static_cast<kparam_array*>(param->arg);
    if (array->get == nullptr || array->elem == nullptr) return -kerr::inval;
    const unsigned count = array->num != nullptr ? *array->num : array->max;
    auto* storage = static_cast<unsigned char*>(array->elem);
    // Each element goes through a scratch buffer of the size get functions are promised, so a
    // long array is cut off rather than written past the caller's buffer.
    std::vector<char> scratch(param_buffer_size);
    int length = 0;
    buffer[0] = '\0';
    for (unsigned i = 0; i < count && i < array->max; ++i) {
        kernel_param element = *param;
        element.arg = storage + static_cast<std::size_t>(i) * array->elemsize;
        const int written = array->get(scratch.data(), &element);
        if (written < 0) return written;
        const int needed = written + (i != 0 ? 1 : 0);
        if (length + needed >= param_buffer_size) break;
        if (i != 0) buffer[length++] = ',';
        std::memcpy(buffer + length, scratch.data(), static_cast<std::size_t>(written));
        length += written;
        buffer[length] = '\0';
    }
    return length;
}
