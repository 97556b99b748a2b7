// A null-modem cable between two DTEs: each one's TXD to the other's RXD, RTS to the other's
// CTS, DTR to the other's DSR and DCD. Destroy the cable before the devices it joins.
#pragma once

#include "sim/hw/line/serial_device.h"

namespace sim::hw {

class NullModemCable {
public:
    NullModemCable(SerialDevice& a, SerialDevice& b);
    ~NullModemCable();
    NullModemCable(const NullModemCable&) = delete;
    NullModemCable& operator=(const NullModemCable&) = delete;

private:
    class End final : public LineSink {
    public:
        explicit End(SerialDevice& far) : far_(far) {}
        void line_frame(const LineFrame& frame) override { far_.receive_frame(frame); }
        void line_rts(bool asserted) override { far_.set_modem_input(ModemSignal::cts, asserted); }
        void line_dtr(bool asserted) override {
            far_.set_modem_input(ModemSignal::dsr, asserted);
            far_.set_modem_input(ModemSignal::dcd, asserted);
        }

    private:
        SerialDevice& far_;
    };

    SerialDevice& a_;
    SerialDevice& b_;
    End to_b_;
    End to_a_;
};

}  // namespace sim::hw
