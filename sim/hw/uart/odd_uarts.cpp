#include "sim/hw/uart/odd_uarts.h"

namespace sim::hw {

ScriptedUart::ScriptedUart(EventQueue& events, UartRegisters* backing) : events_(events), backing_(backing) {}

void ScriptedUart::script_reads(unsigned reg, std::vector<std::uint8_t> answers,
                                std::optional<std::uint8_t> when_lcr) {
    scripts_[{reg & 7u, when_lcr ? int{*when_lcr} : -1}] = Script{std::move(answers), 0};
}

void ScriptedUart::fail(bool failed) {
    failed_ = failed;
    changed();
}

void ScriptedUart::set_interrupt(bool asserted) {
    interrupt_ = asserted;
    changed();
}

void ScriptedUart::set_out_pins(bool out1, bool out2) {
    out1_ = out1;
    out2_ = out2;
    changed();
}

void ScriptedUart::changed() {
    if (listener_) listener_->uart_outputs_changed();
}

std::vector<std::uint8_t> ScriptedUart::writes_to(unsigned reg) const {
    std::vector<std::uint8_t> values;
    for (const Write& w : writes_) {
        if (w.reg == (reg & 7u)) values.push_back(w.value);
    }
    return values;
}

void ScriptedUart::clear_log() {
    writes_.clear();
    for (auto& r : reads_) r = 0;
}

std::uint8_t ScriptedUart::read(unsigned reg) {
    reg &= 7u;
    ++reads_[reg];
    if (failed_) return 0xff;
    auto it = scripts_.find({reg, int{lcr_}});
    if (it == scripts_.end()) it = scripts_.find({reg, -1});
    if (it != scripts_.end() && !it->second.answers.empty()) {
        Script& s = it->second;
        const std::uint8_t value = s.answers[s.next];
        if (s.next + 1 < s.answers.size()) ++s.next;
        if (backing_) (void)backing_->read(reg);  // the chip still sees the access
        return value;
    }
    return backing_ ? backing_->read(reg) : default_read_;
}

void ScriptedUart::write(unsigned reg, std::uint8_t value) {
    reg &= 7u;
    writes_.push_back(Write{reg, value, events_.now()});
    if (failed_) return;
    if (reg == 3) lcr_ = value;
    if (backing_) backing_->write(reg, value);
}

std::string_view ScriptedUart::register_name(unsigned reg, bool is_write) const {
    return backing_ ? backing_->register_name(reg, is_write) : plain_register_name(reg, is_write);
}

bool ScriptedUart::interrupt_output() const {
    if (failed_) return false;
    return backing_ ? backing_->interrupt_output() : interrupt_;
}

bool ScriptedUart::out1() const {
    if (failed_) return false;
    return backing_ ? backing_->out1() : out1_;
}

bool ScriptedUart::out2() const {
    if (failed_) return false;
    return backing_ ? backing_->out2() : out2_;
}

void ScriptedUart::set_output_listener(UartOutputListener* listener) {
    listener_ = listener;
    if (backing_) backing_->set_output_listener(listener);
}

}  // namespace sim::hw
