// A small loadable module for the loader's tests, built like the driver module: parameters of
// each kind, module information, an export, and state that shows whether a load started fresh.
#include "drivers/serial/kernel/kernel.h"

namespace {

unsigned int count = 3;
unsigned long limit = 100;
unsigned long bases[4];
unsigned int bases_count;
unsigned int fail_with;   // init returns -fail_with
unsigned int leave_timer; // init arms a timer that exit does not stop
unsigned int inits_seen;  // static state: 1 after every fresh load

timer_list leftover_timer;

void leftover_callback(unsigned long) {}

kparam_array bases_array{4, &bases_count, param_set_ulong, param_get_ulong, sizeof(unsigned long),
                         bases};

kernel_param params[] = {
    {"count", 0644, param_set_uint, param_get_uint, &count},
    {"limit", 0444, param_set_ulong, param_get_ulong, &limit},
    {"bases", 0444, param_array_set, param_array_get, &bases_array},
    {"fail_with", 0644, param_set_uint, param_get_uint, &fail_with},
    {"leave_timer", 0, param_set_uint, param_get_uint, &leave_timer},
};

int test_module_init() {
    ++inits_seen;
    printk("<6>testmod: init %u count %u\n", inits_seen, count);
    if (fail_with != 0) return -static_cast<int>(fail_with);
    if (leave_timer != 0) {
        init_timer(&leftover_timer);
        leftover_timer.function = leftover_callback;
        mod_timer(&leftover_timer, jiffies + 1000);
    }
    return 0;
}

void test_module_exit() { printk("<6>testmod: exit\n"); }

}  // namespace

extern "C" unsigned int testmod_inits_seen() { return inits_seen; }
extern "C" unsigned int testmod_count() { return count; }

namespace {
const kernel_symbol exports[] = {
    {reinterpret_cast<const void*>(&testmod_inits_seen), "testmod_inits_seen"},
};
}  // namespace

extern "C" {
module __this_module = {"testmod", test_module_init, test_module_exit, params,
                        sizeof(params) / sizeof(params[0]), exports, 1};
}

#define MODINFO(tag, text) \
    __attribute__((section(".modinfo"), used, aligned(1))) static const char tag[] = text

MODINFO(modinfo_alias, "alias=char-major-250-*");
MODINFO(modinfo_license, "license=GPL");
MODINFO(modinfo_description, "description=Loader test module");
MODINFO(modinfo_parm_count, "parm=count:How many");
MODINFO(modinfo_parmtype_count, "parmtype=count:uint");
MODINFO(modinfo_depends, "depends=");
