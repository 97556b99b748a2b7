// Loadable modules: the record the loader looks up, parameters, exported symbols.
//
// A module file defines `__this_module`; the loader finds it by name, sets the parameters it
// lists from the load command line, and calls `init`. Module information (alias, license,
// parameter descriptions, ...) lives in the file's ".modinfo" section as NUL-terminated
// "key=value" strings.
#pragma once

#include <cstdint>

struct kernel_param;

using param_set_fn = int (*)(const char* value, kernel_param* param);
using param_get_fn = int (*)(char* buffer, kernel_param* param);  // returns the length written

struct kernel_param {
    const char* name;
    unsigned int perm;  // mode of the parameter's file in the parameter tree
    param_set_fn set;
    param_get_fn get;
    void* arg;          // the variable, or a kparam_array for array parameters
};

struct kparam_array {
    unsigned int max;
    unsigned int* num;  // how many elements were given
    param_set_fn set;
    param_get_fn get;
    unsigned int elemsize;
    void* elem;
};

// The largest value a parameter's get function writes, including the terminating NUL.
inline constexpr int param_buffer_size = 4096;

extern "C" {
int param_set_uint(const char* value, kernel_param* param);
int param_get_uint(char* buffer, kernel_param* param);
int param_set_ulong(const char* value, kernel_param* param);
int param_get_ulong(char* buffer, kernel_param* param);
int param_array_set(const char* value, kernel_param* param);
int param_array_get(char* buffer, kernel_param* param);
}

struct kernel_symbol {
    const void* value;
    const char* name;
};

struct module {
    const char* name;
    int (*init)(void);
    void (*exit)(void);
    const kernel_param* params;
    unsigned int num_params;
    const kernel_symbol* symbols;  // the module's exports
    unsigned int num_symbols;
};
