#include "sim/kernel/machine.h"

#include <algorithm>

#include <fmt/format.h>

#include "drivers/serial/kernel/ioport.h"
#include "drivers/serial/kernel/printk.h"
#include "drivers/serial/kernel/timer.h"
#include "sim/hw/logging.h"
#include "sim/kernel/base/stop.h"
#include "sim/kernel/base/symbolize.h"

namespace sim::kernel {
namespace {

Machine* current_machine = nullptr;

std::vector<Machine*>& live_machines() {
    static std::vector<Machine*> machines;
    return machines;
}

constexpr std::int64_t nanoseconds_per_second = 1'000'000'000;

MachineSettings checked(MachineSettings settings) {
    if (settings.hz == 0 || settings.hz > 100000) {
        hw::fatal("HZ must be between 1 and 100000, not {}", settings.hz);
    }
    return settings;
}

}  // namespace

std::filesystem::path default_module_dir() {
#ifdef SERIAL_MODULE_DIR
    return SERIAL_MODULE_DIR;
#else
    return "modules";
#endif
}

Machine::Machine(MachineSettings settings)
    : settings_(checked(std::move(settings))),
      cpu_(settings_.cpu),
      log_(events_, settings_.log_capacity),
      locks_(cpu_, settings_.lock_order),
      interrupts_(*this, settings_.irq),
      ioports_("PCI IO", 0xffff, IORESOURCE_IO, 4),
      iomem_("PCI mem", ~std::uint64_t{0}, IORESOURCE_MEM, 8),
      platform_(*this),
      modules_(*this, settings_.module_dir) {
    bus_.set_access_observer([this] { interrupts_.delivery_point(); });
    controller_.set_pending_observer([this](hw::InterruptLine) { interrupts_.mark_dirty(); });
    register_files();
    register_unload_checks();
    live_machines().push_back(this);
    previous_ = current_machine;
    make_current();
}

Machine::~Machine() {
    // Module exit entries and subsystems call the kernel services: they must reach this machine.
    Machine* const before = current_machine;
    make_current();
    modules_.unload_all();
    while (!subsystems_.empty()) subsystems_.pop_back();
    ioports_.detach_mirror();
    iomem_.detach_mirror();
    std::erase(live_machines(), this);
    current_machine = nullptr;
    Machine* next = before != this ? before : previous_;
    if (std::find(live_machines().begin(), live_machines().end(), next) == live_machines().end()) {
        next = live_machines().empty() ? nullptr : live_machines().back();
    }
    if (next != nullptr) next->make_current();
}

Machine& Machine::current() {
    if (current_machine == nullptr) stop_machine("a kernel service was called with no machine");
    return *current_machine;
}

Machine* Machine::current_or_null() { return current_machine; }

void Machine::make_current() {
    if (current_machine != nullptr && current_machine != this) {
        current_machine->ioports_.detach_mirror();
        current_machine->iomem_.detach_mirror();
    }
    current_machine = this;
    ioports_.attach_mirror(&ioport_resource);
    iomem_.attach_mirror(&iomem_resource);
    update_jiffies();
}

std::uint64_t Machine::ticks() const {
    const auto since_boot = now().time_since_epoch().count();
    if (since_boot <= 0) return 0;
    return static_cast<std::uint64_t>(static_cast<__int128>(since_boot) * settings_.hz /
                                      nanoseconds_per_second);
}

hw::TimePoint Machine::tick_start(std::uint64_t tick) const {
    const __int128 scaled = static_cast<__int128>(tick) * nanoseconds_per_second;
    const __int128 start = (scaled + settings_.hz - 1) / settings_.hz;
    return hw::TimePoint(hw::Duration(static_cast<std::int64_t>(start)));
}

void Machine::update_jiffies() {
    if (current_machine == this) ::jiffies = jiffies();
}

void Machine::enter_run_loop(const char* what) const {
    if (cpu_.in_interrupt()) {
        stop_machine(fmt::format("{} called from {}: only the process side runs the machine", what,
                                 describe_context(cpu_.context())));
    }
    if (locks_.spin_locks_held() != 0) {
        const HeldLock* held = nullptr;
        for (const HeldLock& h : locks_.held()) {
            if (!h.is_mutex) held = &h;
        }
        stop_machine(fmt::format("{} (the process sleeps) with spin lock {} held since {}", what,
                                 locks_.describe_lock(held->lock), describe_address(held->caller)));
    }
    if (!cpu_.irqs_enabled()) {
        stop_machine(fmt::format("{} (the process sleeps) with local interrupts disabled", what));
    }
}

void Machine::run_due_timers() {
    const std::uint64_t tick = ticks();
    while (timer_list* timer = timers_.take_due(tick)) {
        void (*const callback)(unsigned long) = timer->function;
        const unsigned long data = timer->data;
        cpu_.enter_softirq();
        timers_.set_running(timer);
        callback(data);
        timers_.set_running(nullptr);
        locks_.expect_no_spin_locks(
            softirq_context_id,
            fmt::format("timer callback {}",
                        describe_address(reinterpret_cast<const void*>(callback))));
        if (!cpu_.irqs_enabled()) {
            log_.write(fmt::format("<4>timer callback {} returned with interrupts disabled\n",
                                   describe_address(reinterpret_cast<const void*>(callback))));
            cpu_.set_irqs_enabled(true);
        }
        cpu_.exit_softirq();
        interrupts_.delivery_point();
    }
}

bool Machine::step(hw::TimePoint target) {
    interrupts_.delivery_point();
    const std::optional<hw::TimePoint> hardware = events_.next_event_time();
    std::optional<hw::TimePoint> timer;
    if (const auto tick = timers_.next_fire_tick()) timer = std::max(tick_start(*tick), now());
    const bool hardware_first = hardware && (!timer || *hardware <= *timer);
    const std::optional<hw::TimePoint> next = hardware_first ? hardware : timer;
    if (!next || *next > target) return false;
    if (hardware_first) {
        events_.run_next();
        update_jiffies();
        interrupts_.delivery_point();
    } else {
        events_.advance_to(*timer);
        update_jiffies();
        run_due_timers();
    }
    return true;
}

void Machine::run_for(hw::Duration duration) {
    enter_run_loop("run_for");
    const hw::TimePoint target = now() + std::max(duration, hw::Duration::zero());
    while (step(target)) {
    }
    events_.advance_to(target);
    update_jiffies();
    interrupts_.delivery_point();
}

bool Machine::run_until(const std::function<bool()>& done, hw::Duration limit) {
    enter_run_loop("run_until");
    const hw::TimePoint target = now() + std::max(limit, hw::Duration::zero());
    for (;;) {
        if (done()) return true;
        if (!step(target)) break;
    }
    events_.advance_to(target);
    update_jiffies();
    interrupts_.delivery_point();
    return done();
}

void Machine::busy_wait(hw::Duration duration) {
    const hw::TimePoint target = now() + std::max(duration, hw::Duration::zero());
    for (auto next = events_.next_event_time(); next && *next <= target;
         next = events_.next_event_time()) {
        events_.run_next();
        update_jiffies();
        interrupts_.delivery_point();
    }
    events_.advance_to(target);
    update_jiffies();
    interrupts_.delivery_point();
    if (cpu_.irqs_enabled()) {
        irqs_off_spin_ = hw::Duration::zero();
        return;
    }
    irqs_off_spin_ += duration;
    if (irqs_off_spin_ > settings_.lockup_limit && !lockup_reported_) {
        lockup_reported_ = true;
        log_.write(fmt::format("<0>NMI Watchdog detected LOCKUP on CPU{}: {} ms spent with "
                               "interrupts disabled\n",
                               cpu_.number(),
                               std::chrono::duration_cast<std::chrono::milliseconds>(irqs_off_spin_)
                                   .count()));
        dump_stack();
    }
}

void Machine::touch_watchdog() {
    irqs_off_spin_ = hw::Duration::zero();
    lockup_reported_ = false;
    interrupts_.delivery_point();
}

void Machine::local_irq_enable() {
    cpu_.set_irqs_enabled(true);
    irqs_off_spin_ = hw::Duration::zero();
    lockup_reported_ = false;
    interrupts_.delivery_point();
}

void Machine::local_irq_disable() { cpu_.set_irqs_enabled(false); }

int Machine::suspend_devices(pm_message_t state) {
    enter_run_loop("suspend_devices");
    return platform_.suspend(state);
}

void Machine::resume_devices() {
    enter_run_loop("resume_devices");
    platform_.resume();
}

void Machine::register_files() {
    files_.add("/proc/interrupts", [this] { return interrupts_.proc_interrupts(); });
    files_.add("/proc/ioports", [this] { return ioports_.format(); });
    files_.add("/proc/iomem", [this] { return iomem_.format(); });
    files_.add("/proc/modules", [this] { return modules_.proc_modules(); });
}

void Machine::register_unload_checks() {
    modules_.add_unload_check([this](const ModuleImage& image) {
        std::vector<std::string> found;
        for (timer_list* timer : timers_.pending_with_callback_in(image.low, image.high)) {
            found.push_back(fmt::format(
                "pending timer {} (callback {})", describe_address(timer),
                describe_address(reinterpret_cast<const void*>(timer->function))));
            timers_.remove(timer, nullptr);
        }
        for (const auto& [line, action] : interrupts_.remove_actions_in(image.low, image.high)) {
            found.push_back(fmt::format("handler \"{}\" on irq {}", action.name, line));
        }
        for (const std::string& name : platform_.forget_drivers_in(image.low, image.high)) {
            found.push_back(fmt::format("platform driver \"{}\"", name));
        }
        for (const HeldLock& held : locks_.held()) {
            if (image.contains(held.lock)) {
                found.push_back(fmt::format("lock {} held", locks_.describe_lock(held.lock)));
            }
        }
        return found;
    });
}

MachineScope::MachineScope(Machine& machine) : previous_(Machine::current_or_null()) {
    machine.make_current();
}

MachineScope::~MachineScope() {
    if (previous_ != nullptr &&
        std::find(live_machines().begin(), live_machines().end(), previous_) !=
            live_machines().end()) {
        previous_->make_current();
    }
}

}  // namespace sim::kernel
