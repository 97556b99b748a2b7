// A simulated machine: the hardware base (event queue and virtual clock, bus, interrupt
// controller), one processor, and the kernel substitute that the driver module binds to (log,
// locks, time and timers, interrupts, resources and mappings, platform bus, module loader and
// parameters, virtual files, fault injection, the kernel symbol table).
//
// The kernel services with C linkage reach the machine through Machine::current(). A machine
// makes itself current when it is built and hands back to the one before when it goes;
// MachineScope switches for a while.
//
// The process side is single-threaded: code that would sleep in a real kernel waits by running
// the machine (`run_for`, `run_until` with a predicate, e.g. a wait queue's wake count moving).
// Timers fire only from these run loops, in softirq context.
//
//     sim::kernel::Machine machine;              // HZ 250, module folder of the build
//     machine.modules().load("8250", "nr_uarts=8");
//     machine.run_for(std::chrono::milliseconds(100));
//     std::string text = machine.files().read("/proc/ioports").content;
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "drivers/serial/kernel/platform_device.h"
#include "sim/hw/bus.h"
#include "sim/hw/event_queue.h"
#include "sim/hw/interrupt_controller.h"
#include "sim/kernel/base/faults.h"
#include "sim/kernel/cpu/cpu.h"
#include "sim/kernel/files/virtual_files.h"
#include "sim/kernel/irq/interrupts.h"
#include "sim/kernel/locks/lock_checker.h"
#include "sim/kernel/log/kernel_log.h"
#include "sim/kernel/module/module_loader.h"
#include "sim/kernel/module/symbol_table.h"
#include "sim/kernel/platform/platform_bus.h"
#include "sim/kernel/resources/io_mappings.h"
#include "sim/kernel/resources/resource_tree.h"
#include "sim/kernel/time/timers.h"

namespace sim::kernel {

// The folder the build puts module files in.
std::filesystem::path default_module_dir();

struct MachineSettings {
    unsigned hz = 250;
    unsigned cpu = 0;
    unsigned long initial_jiffies = 0;
    std::filesystem::path module_dir = default_module_dir();
    std::vector<LockOrderRule> lock_order{{"irq_lists", "serial8250_ports"}};
    IrqLimits irq{};
    // Busy-waiting this long with local interrupts disabled, without touch_nmi_watchdog, is
    // reported as a lock-up.
    hw::Duration lockup_limit = std::chrono::seconds(5);
    std::size_t log_capacity = 1u << 16;
};

// Something that hangs off a machine for its whole life (the serial core, the tty layer).
// Created on first use with `T(Machine&)`, destroyed newest first after every module has been
// unloaded.
class Subsystem {
public:
    virtual ~Subsystem() = default;
};

class Machine {
public:
    explicit Machine(MachineSettings settings = {});
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // The machine the kernel services act on; stops if there is none.
    static Machine& current();
    static Machine* current_or_null();
    void make_current();

    const MachineSettings& settings() const { return settings_; }

    hw::EventQueue& events() { return events_; }
    hw::Bus& bus() { return bus_; }
    hw::InterruptController& interrupt_controller() { return controller_; }
    Cpu& cpu() { return cpu_; }
    KernelLog& log() { return log_; }
    LockChecker& locks() { return locks_; }
    Timers& timers() { return timers_; }
    Interrupts& interrupts() { return interrupts_; }
    ResourceTree& ioports() { return ioports_; }
    ResourceTree& iomem() { return iomem_; }
    IoMappings& mappings() { return mappings_; }
    PlatformBus& platform() { return platform_; }
    ModuleLoader& modules() { return modules_; }
    SymbolTable& symbols() { return symbols_; }
    VirtualFiles& files() { return files_; }
    FaultInjector& faults() { return faults_; }

    // Time.
    hw::TimePoint now() const { return events_.now(); }
    unsigned hz() const { return settings_.hz; }
    std::uint64_t ticks() const;  // ticks since boot
    unsigned long jiffies() const { return settings_.initial_jiffies + ticks(); }
    hw::TimePoint tick_start(std::uint64_t tick) const;

    // The run loop of the process side: hardware events, timer callbacks (softirq context) and
    // interrupts, in time order, until `duration` has passed.
    void run_for(hw::Duration duration);
    // Runs until `done` holds (checked before anything runs and after every step) or `limit`
    // has passed; returns whether it holds.
    bool run_until(const std::function<bool()>& done, hw::Duration limit);
    // A busy-wait of the running code: time passes and hardware events happen, interrupts are
    // taken if local interrupts are enabled; timers do not run.
    void busy_wait(hw::Duration duration);
    // touch_nmi_watchdog: the lock-up detector starts counting afresh.
    void touch_watchdog();

    // Local interrupt flag as the kernel services change it; enabling is a delivery point.
    void local_irq_enable();
    void local_irq_disable();

    // The system sleep passes over the platform bus.
    int suspend_devices(pm_message_t state = {3});
    void resume_devices();

    template <typename T>
    T& subsystem() {
        if (T* found = find_subsystem<T>()) return *found;
        auto made = std::make_unique<T>(*this);
        T& ref = *made;
        subsystems_.emplace_back(&subsystem_key<T>, std::move(made));
        return ref;
    }
    template <typename T>
    T* find_subsystem() {
        for (auto& [key, object] : subsystems_) {
            if (key == &subsystem_key<T>) return static_cast<T*>(object.get());
        }
        return nullptr;
    }

private:
    template <typename T>
    static inline const char subsystem_key = 0;

    void update_jiffies();
    void enter_run_loop(const char* what) const;
    void run_due_timers();
    // One step of the run loop up to `target`; false when nothing is left before it.
    bool step(hw::TimePoint target);
    void register_files();
    void register_unload_checks();

    MachineSettings settings_;
    hw::EventQueue events_;
    hw::Bus bus_{events_};
    hw::InterruptController controller_;
    Cpu cpu_;
    KernelLog log_;
    LockChecker locks_;
    Timers timers_;
    Interrupts interrupts_;
    ResourceTree ioports_;
    ResourceTree iomem_;
    IoMappings mappings_;
    PlatformBus platform_;
    SymbolTable symbols_;
    VirtualFiles files_;
    FaultInjector faults_;
    ModuleLoader modules_;
    std::vector<std::pair<const void*, std::unique_ptr<Subsystem>>> subsystems_;
    hw::Duration irqs_off_spin_{};
    bool lockup_reported_ = false;
    Machine* previous_ = nullptr;
};

// Makes `machine` current for the scope's life.
class MachineScope {
public:
    explicit MachineScope(Machine& machine);
    ~MachineScope();
    MachineScope(const MachineScope&) = delete;
    MachineScope& operator=(const MachineScope&) = delete;

private:
    Machine* previous_;
};

}  // namespace sim::kernel
