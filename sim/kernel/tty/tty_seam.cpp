// The tty services a serial driver calls, bound by their kernel names.
#include "drivers/serial/kernel/tty.h"

#include <span>
#include <string>

#include "sim/kernel/base/stop.h"
#include "sim/kernel/tty/tty.h"

namespace {

// A record no live tty owns can only come from a driver that kept a tty past its close, or
// from a test that made one by hand: either way the caller is broken, and going on would
// write into memory nobody owns.
sim::kernel::Tty& owner_of(tty_struct* record, const char* service) {
    sim::kernel::Tty* tty = sim::kernel::Tty::from(record);
    if (tty == nullptr)
        sim::kernel::stop_machine(std::string(service) + ": tty record belongs to no open tty");
    return *tty;
}

}  // namespace

extern "C" int tty_insert_flip_string_flags(tty_struct* tty, const unsigned char* chars,
                                            const char* flags, std::size_t count) {
    if (tty == nullptr || chars == nullptr || flags == nullptr || count == 0) return 0;
    const std::size_t taken = owner_of(tty, "tty_insert_flip_string_flags")
                                  .insert_flip_string_flags(std::span(chars, count),
                                                            std::span(flags, count));
    return static_cast<int>(taken);
}

extern "C" void tty_flip_buffer_push(tty_struct* tty) {
    if (tty == nullptr) return;
    owner_of(tty, "tty_flip_buffer_push").flip_buffer_push();
}

extern "C" void tty_hangup(tty_struct* tty) {
    if (tty == nullptr) return;
    owner_of(tty, "tty_hangup").hangup();
}

extern "C" void do_SAK(tty_struct* tty) {
    if (tty == nullptr) return;
    owner_of(tty, "do_SAK").secure_attention();
}
