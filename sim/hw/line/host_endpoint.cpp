#include "sim/hw/line/host_endpoint.h"

#include "sim/hw/logging.h"

namespace sim::hw {

namespace {

Picoseconds bit_for(std::uint32_t baud) {
    if (baud == 0) fatal("a line speed of 0 bit/s");
    return (picoseconds_per_second + baud / 2) / baud;
}

}  // namespace

HostEndpoint::HostEndpoint(EventQueue& events, HostSettings settings)
    : events_(events),
      settings_(settings),
      bit_ps_(bit_for(settings.baud)),
      receiver_(events, [this](const ReceivedCharacter& c) {
          const CapturedCharacter captured{c.data, c.parity_error, c.framing_error, c.break_condition, events_.now()};
          received_.push_back(captured);
          if (on_receive_) on_receive_(captured);
      }) {
    receiver_.set_format(settings_.format, bit_ps_);
}

HostEndpoint::~HostEndpoint() {
    disconnect();
    if (event_ != EventId::none) events_.cancel(event_);
}

void HostEndpoint::connect(SerialDevice& device) {
    disconnect();
    peer_ = &device;
    peer_->attach_line(this);
    peer_->set_modem_input(ModemSignal::cts, modem_out_[0]);
    peer_->set_modem_input(ModemSignal::dsr, modem_out_[1]);
    peer_->set_modem_input(ModemSignal::ri, modem_out_[2]);
    peer_->set_modem_input(ModemSignal::dcd, modem_out_[3]);
    start_next();
}

void HostEndpoint::disconnect() {
    if (!peer_) return;
    SerialDevice* peer = peer_;
    peer_ = nullptr;
    peer->attach_line(nullptr);
    for (ModemSignal s : {ModemSignal::cts, ModemSignal::dsr, ModemSignal::ri, ModemSignal::dcd}) {
        peer->set_modem_input(s, false);
    }
    peer_rts_ = false;
    peer_dtr_ = false;
}

void HostEndpoint::set_settings(HostSettings settings) {
    bit_ps_ = bit_for(settings.baud);
    settings_ = settings;
    receiver_.set_format(settings_.format, bit_ps_);
}

void HostEndpoint::enqueue(const Item& item) {
    if (head_ > 0 && head_ == queue_.size()) {
        queue_.clear();
        head_ = 0;
    }
    queue_.push_back(item);
    start_next();
}

void HostEndpoint::send(std::span<const std::uint8_t> bytes) {
    if (head_ > 0 && head_ == queue_.size()) {
        queue_.clear();
        head_ = 0;
    }
    queue_.reserve(queue_.size() + bytes.size());
    for (std::uint8_t b : bytes) queue_.push_back(Item{Item::Kind::byte, b, FrameFault::none, {}});
    start_next();
}

void HostEndpoint::send(std::string_view text) {
    send(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void HostEndpoint::send_byte(std::uint8_t byte, FrameFault fault) { enqueue(Item{Item::Kind::byte, byte, fault, {}}); }

void HostEndpoint::send_break(Duration length) { enqueue(Item{Item::Kind::brk, 0, FrameFault::none, length}); }

void HostEndpoint::send_idle(Duration length) { enqueue(Item{Item::Kind::idle, 0, FrameFault::none, length}); }

void HostEndpoint::set_flow_control(bool honour_rts) {
    flow_control_ = honour_rts;
    start_next();
}

void HostEndpoint::set_modem_output(ModemSignal signal, bool asserted) {
    modem_out_[static_cast<unsigned>(signal)] = asserted;
    if (peer_) peer_->set_modem_input(signal, asserted);
}

void HostEndpoint::start_next() {
    if (busy_ || !peer_ || head_ == queue_.size()) return;
    const Item& item = queue_[head_];
    if (item.kind == Item::Kind::byte && flow_control_ && !peer_rts_) return;
    ++head_;
    const Picoseconds now = to_picoseconds(events_.now());
    Picoseconds end = now;
    switch (item.kind) {
        case Item::Kind::byte: {
            const LineFrame frame = make_frame(item.byte, settings_.format, bit_ps_, now, item.fault);
            peer_->receive_frame(frame);
            end = frame.end();
            break;
        }
        case Item::Kind::brk: {
            const Picoseconds length = item.length.count() * 1000;
            peer_->receive_frame(make_break(now, length));
            end = now + length + 2 * bit_ps_;
            break;
        }
        case Item::Kind::idle: end = now + item.length.count() * 1000; break;
    }
    busy_ = true;
    event_ = events_.schedule_at(ceil_to_time(end), [this] { done(); });
}

void HostEndpoint::done() {
    event_ = EventId::none;
    busy_ = false;
    start_next();
}

void HostEndpoint::line_frame(const LineFrame& frame) {
    if (log_frames_) frames_.push_back(frame);
    receiver_.frame_arrived(frame);
}

void HostEndpoint::line_rts(bool asserted) {
    peer_rts_ = asserted;
    start_next();
}

void HostEndpoint::line_dtr(bool asserted) { peer_dtr_ = asserted; }

std::vector<std::uint8_t> HostEndpoint::received_bytes() const {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(received_.size());
    for (const CapturedCharacter& c : received_) bytes.push_back(c.data);
    return bytes;
}

void HostEndpoint::clear_received() {
    received_.clear();
    frames_.clear();
}

}  // namespace sim::hw
