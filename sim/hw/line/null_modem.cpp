#include "sim/hw/line/null_modem.h"

namespace sim::hw {

NullModemCable::NullModemCable(SerialDevice& a, SerialDevice& b) : a_(a), b_(b), to_b_(b), to_a_(a) {
    a_.attach_line(&to_b_);
    b_.attach_line(&to_a_);
}

NullModemCable::~NullModemCable() {
    a_.attach_line(nullptr);
    b_.attach_line(nullptr);
    // Unplugged, the inputs float to their inactive level.
    for (SerialDevice* d : {&a_, &b_}) {
        d->set_modem_input(ModemSignal::cts, false);
        d->set_modem_input(ModemSignal::dsr, false);
        d->set_modem_input(ModemSignal::dcd, false);
    }
}

}  // namespace sim::hw
