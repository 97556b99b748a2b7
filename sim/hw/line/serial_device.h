// The serial connector of a device: what it receives on RXD and its modem inputs, and where it
// sends TXD, RTS and DTR. Cables join two connectors.
#pragma once

#include <cstdint>

#include "sim/hw/line/line_frame.h"

namespace sim::hw {

enum class ModemSignal : std::uint8_t { cts, dsr, ri, dcd };

// Where a device's outputs go: the far end of its cable.
class LineSink {
public:
    virtual void line_frame(const LineFrame& frame) = 0;  // a stretch of TXD began
    virtual void line_rts(bool asserted) = 0;
    virtual void line_dtr(bool asserted) = 0;

protected:
    ~LineSink() = default;
};

class SerialDevice {
public:
    virtual ~SerialDevice() = default;
    virtual void receive_frame(const LineFrame& frame) = 0;   // on RXD
    virtual void set_modem_input(ModemSignal signal, bool asserted) = 0;
    // Null detaches; the device then drives nothing.
    virtual void attach_line(LineSink* sink) = 0;
    virtual bool rts_output() const = 0;
    virtual bool dtr_output() const = 0;
};

}  // namespace sim::hw
