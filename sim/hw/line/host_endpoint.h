// The far end of a serial line as a test or the lab drives it: a DCE (a modem, a terminal
// server port) that sends bytes at a chosen rate and framing, with breaks and deliberate
// parity or framing errors, drives CTS, DSR, DCD and RI, and captures what the device sends,
// decoded with its own settings and with the timing of every frame.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "sim/hw/event_queue.h"
#include "sim/hw/line/line_frame.h"
#include "sim/hw/line/serial_device.h"
#include "sim/hw/line/serial_receiver.h"

namespace sim::hw {

struct HostSettings {
    std::uint32_t baud = 115200;
    LineFormat format{};
};

struct CapturedCharacter {
    std::uint8_t data = 0;
    bool parity_error = false;
    bool framing_error = false;
    bool break_condition = false;
    TimePoint time{};  // when the stop bit was sampled
};

class HostEndpoint final : private LineSink {
public:
    explicit HostEndpoint(EventQueue& events, HostSettings settings = {});
    ~HostEndpoint();
    HostEndpoint(const HostEndpoint&) = delete;
    HostEndpoint& operator=(const HostEndpoint&) = delete;

    // A straight cable to a DTE (a UART): our TXD to its RXD, its TXD to us, and the modem
    // lines we drive to its CTS, DSR, DCD and RI. Disconnect (or destroy us) before the device.
    void connect(SerialDevice& device);
    void disconnect();

    // Applies to the next character sent and the next start bit received.
    void set_settings(HostSettings settings);
    const HostSettings& settings() const { return settings_; }
    Picoseconds bit_time() const { return bit_ps_; }

    void send(std::span<const std::uint8_t> bytes);
    void send(std::string_view text);
    void send_byte(std::uint8_t byte, FrameFault fault = FrameFault::none);
    // Space for `length`, then two bit times of mark so the next start bit is seen.
    void send_break(Duration length);
    void send_idle(Duration length);
    std::size_t queued() const { return queue_.size() - head_; }
    bool transmitting() const { return busy_ || queued() > 0; }
    // Hold the next character while the device's RTS is off.
    void set_flow_control(bool honour_rts);

    void set_modem_output(ModemSignal signal, bool asserted);
    bool peer_rts() const { return peer_rts_; }
    bool peer_dtr() const { return peer_dtr_; }

    std::span<const CapturedCharacter> received() const { return received_; }
    std::vector<std::uint8_t> received_bytes() const;
    void clear_received();
    // Keep every frame the device starts (off by default; for timing and framing checks).
    void set_frame_log(bool on) { log_frames_ = on; }
    std::span<const LineFrame> frames() const { return frames_; }
    void set_receive_callback(std::function<void(const CapturedCharacter&)> callback) {
        on_receive_ = std::move(callback);
    }

private:
    struct Item {
        enum class Kind : std::uint8_t { byte, brk, idle } kind;
        std::uint8_t byte = 0;
        FrameFault fault = FrameFault::none;
        Duration length{};
    };

    void line_frame(const LineFrame& frame) override;
    void line_rts(bool asserted) override;
    void line_dtr(bool asserted) override;
    void enqueue(const Item& item);
    void start_next();
    void done();

    EventQueue& events_;
    HostSettings settings_;
    Picoseconds bit_ps_ = 0;
    SerialDevice* peer_ = nullptr;
    SerialReceiver receiver_;
    std::vector<Item> queue_;
    std::size_t head_ = 0;
    bool busy_ = false;
    EventId event_ = EventId::none;
    bool flow_control_ = false;
    bool peer_rts_ = false, peer_dtr_ = false;
    bool modem_out_[4] = {};
    std::vector<CapturedCharacter> received_;
    bool log_frames_ = false;
    std::vector<LineFrame> frames_;
    std::function<void(const CapturedCharacter&)> on_receive_;
};

}  // namespace sim::hw
