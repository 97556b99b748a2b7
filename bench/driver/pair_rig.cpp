#include "bench/driver/pair_rig.h"

#include <chrono>
#include <vector>

namespace driver_bench {

using namespace std::chrono_literals;
using sim::hw::InterruptWiring;

PairRig::PairRig()
    : card0_(machine.bus(), machine.interrupt_controller(), chip0_, 0x3f8, InterruptWiring::edge(4)),
      card1_(machine.bus(), machine.interrupt_controller(), chip1_, 0x2f8, InterruptWiring::edge(3)) {
    if (const auto loaded = machine.modules().load(SERIAL_8250_MODULE_PATH); !loaded) {
        error_ = "insmod 8250: " + loaded.message;
        return;
    }
    auto open = [this](const char* device, sim::kernel::FileHandle& file) {
        auto opened = core().open(device);
        if (!opened.ok()) {
            error_ = std::string("open ") + device + " failed";
            return false;
        }
        file = *opened;
        ktermios settings = *core().get_termios(file);
        settings.c_cflag = B115200 | CS8 | CREAD | CLOCAL;
        settings.c_iflag = 0;
        if (core().set_termios(file, settings) != 0) {
            error_ = std::string("raw 115200 8N1 on ") + device + " refused";
            return false;
        }
        return true;
    };
    if (!open("ttyS0", tty0_) || !open("ttyS1", tty1_)) return;
    // The interrupt probe at load left a byte on its way at the chips' power-on rate.
    machine.run_for(100ms);
    core().flush(tty0_, sim::kernel::FlushQueues::both);
    core().flush(tty1_, sim::kernel::FlushQueues::both);
}

PairRig::~PairRig() {
    if (error_.empty()) {
        core().close(tty0_);
        core().close(tty1_);
    }
    machine.modules().unload_all();
}

bool PairRig::receive(sim::kernel::FileHandle file, std::span<const unsigned char> expected) {
    std::size_t got = 0;
    while (got < expected.size()) {
        const auto part = core().read(file, sim::kernel::ReadRequest{.max = expected.size() - got,
                                                                     .min = expected.size() - got,
                                                                     .limit = 1s});
        if (!part.ok() || part->bytes.empty()) return false;
        for (unsigned char byte : part->bytes) {
            if (byte != expected[got++]) return false;
        }
    }
    return true;
}

bool PairRig::move(std::span<const unsigned char> bytes) {
    const auto written = core().write(tty0_, bytes);
    return written.ok() && *written == bytes.size() && receive(tty1_, bytes);
}

bool PairRig::exchange(std::span<const unsigned char> bytes) {
    const auto forth = core().write(tty0_, bytes);
    const auto back = core().write(tty1_, bytes);
    if (!forth.ok() || !back.ok() || *forth != bytes.size() || *back != bytes.size()) return false;
    return receive(tty1_, bytes) && receive(tty0_, bytes);
}

}  // namespace driver_bench
