// The serial core: between the ttyS devices that processes open and the UART driver that
// registered them. One per machine; the Machine owns it.
//
// Registration side (the uart_* services a driver calls):
// - uart_register_driver takes a driver record (name, device prefix, major, first minor, number
//   of lines), makes a state for each line and publishes /proc/tty/driver/<name>. A second
//   driver with the same major or name is refused with -EBUSY; a bad record with -EINVAL.
// - uart_add_one_port puts a port at its line (`line_index`). The port lock is (re)initialised.
//   A port with no address at all (no io_base, reg_window_phys or reg_window) is registered but
//   not probed. With `configure_on_add` its type is first set to unknown and config_port is
//   asked for `want_type_detect`, plus `want_irq_probe` under `irq_autoprobe`. A port of known
//   type is then reported with the customary line, e.g.
//     "serial8250: ttyS0 at I/O 0x3f8 (irq = 4) is a 16550A"
//   (the owning device's bus id first when there is one; "MMIO 0x..." with the physical
//   address for access kinds 2, 3 and 5; "I/O 0x... offset 0x..." for hub6), powered up, its
//   modem lines set to 0 under the port lock, and powered down again.
// - uart_remove_one_port hangs up and shuts down the port if it is open, gives its regions back
//   (release_port) when its type is known, and sets the type to unknown. A port that is not
//   added is accepted and left alone.
// - uart_unregister_driver first removes every port still added, so that no port of a module
//   that goes away stays reachable.
// - uart_suspend_port: for an open port, stop_tx, set_mctrl(0) and stop_rx under the port lock,
//   wait (bounded, 2 s of machine time) for the transmitter to empty, shutdown; then power down.
//   uart_resume_port powers up and, for a port that was suspended while open, starts it up
//   again, re-applies its settings and modem lines and restarts transmission. Suspending twice
//   or resuming a port that is not suspended changes nothing.
// - uart_match_port: same kind of access (port I/O, hub6, or memory-mapped), and then the same
//   io_base (and hub6 index), or the same physical window (the mapped window when neither has a
//   physical address). A port with no address matches nothing.
// - Fault injection: FaultPoint::uart_add_one_port makes uart_add_one_port fail with the
//   injected error before it changes anything; FaultPoint::allocation does the same to
//   uart_register_driver (-ENOMEM by default).
//
// Process side (open, close, read, write, poll, ioctls; the methods below):
// - Opening "ttyS<n>" when no driver is registered for its major asks the module loader for
//   "char-major-4-<minor>". A line beyond the driver's lines is -ENODEV; a line with no port
//   is -ENXIO. A port of unknown type opens (so that its type can be set with the serial-info
//   call) but reads, writes and modem-line calls fail with -EIO.
// - Every open file holds a reference on the driver's module (the driver record's owner): the
//   module cannot be unloaded while one of its ports is open.
// - First open: the flow flags of the port state follow the settings (state_cts_flow from
//   CRTSCTS, state_check_cd when CLOCAL is clear, state_dsr_flow from the line's DSR-flow
//   setting), the port is powered up, startup is called (its error fails the open), the
//   settings are applied (set_termios), DTR and RTS are raised unless the rate is B0, and with
//   CRTSCTS an absent CTS stops output. A blocking open without CLOCAL then waits for carrier.
//   Settings persist across opens; the first open of a line starts from
//   B9600 | CS8 | CREAD | HUPCL | CLOCAL, iflag ICRNL | IXON, oflag OPOST | ONLCR, lflag ISIG |
//   ICANON | ECHO | ECHOE | ECHOK | ECHOCTL | ECHOKE | IEXTEN and the customary control
//   characters. The line discipline is raw (see tty.h): those iflag/oflag/lflag bits are kept
//   and reported but only IXOFF (throttling) and the receive masks act on data.
// - Last close: wait for the transmit ring to drain (at most the line's closing_wait), stop_rx,
//   wait for the transmitter to empty (at most twice the FIFO timeout), drop DTR and RTS when
//   HUPCL is set, shutdown, flush, power down.
// - Writing copies into the 4096-byte transmit ring (4095 usable) under the port lock, then
//   calls start_tx under the port lock unless the tty is stopped. Blocking writes run the
//   machine while the ring is full; non-blocking writes return what fitted, or -EAGAIN.
// - Reading takes (character, flag) pairs from the tty. Blocking reads run the machine until
//   `min` bytes are there; non-blocking reads return -EAGAIN when nothing is. After a hang-up
//   reads return no bytes (end of file) and writes -EIO.
// - A blocking call that reaches its limit of machine time with nothing done fails with -EINTR,
//   as if a signal had arrived; with part of the work done it returns that part.
// - Hang-up (carrier loss under state_check_cd, or removal of an open port) is carried out in
//   process context, at the next process-side call: flush, shutdown, and every open file of the
//   line is hung up. A later open starts the port afresh.
// - Throttling: when the tty's read queue fills, RTS is dropped under CRTSCTS and STOP is sent
//   under IXOFF; once the reader has drained it RTS is raised / START is sent again.
// - Driver calls and their locks: start_tx, stop_tx, stop_rx, enable_ms, set_mctrl, get_mctrl
//   are called with the port lock held (irqsave); startup, shutdown, set_termios, break_ctl,
//   tx_empty, pm, config_port, request_port, release_port and verify_port without it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/serial/kernel/serial_core.h"
#include "sim/kernel/machine.h"
#include "sim/kernel/serial_core/result.h"
#include "sim/kernel/tty/tty.h"

namespace sim::kernel {

using MachineDuration = std::chrono::nanoseconds;

enum class OpenMode : std::uint8_t { blocking, nonblocking };

// An open file of a ttyS device, as a process holds it. Handles are never reused.
struct FileHandle {
    int id = -1;
    friend bool operator==(const FileHandle&, const FileHandle&) = default;
};

inline constexpr MachineDuration default_wait_limit = std::chrono::seconds(10);

struct ReadRequest {
    std::size_t max = 4096;  // at most this many bytes
    std::size_t min = 1;     // a blocking read waits until this many are there (or the limit)
    MachineDuration limit = default_wait_limit;
};

struct ReadResult {
    std::vector<unsigned char> bytes;  // empty at end of file (hung up)
    std::vector<char> flags;           // one per byte: TTY_NORMAL, TTY_BREAK, ...
};

enum class SettingsWhen : std::uint8_t { now, after_drain, after_flush };  // TCSETS, W, F
enum class FlushQueues : std::uint8_t { input, output, both };             // TCIFLUSH, ...
enum class FlowAction : std::uint8_t { stop_output, start_output, send_stop, send_start };

struct PollState {
    bool readable = false;
    bool writable = false;
    bool hangup = false;
    bool error = false;
    friend bool operator==(const PollState&, const PollState&) = default;
};

// Serial-core settings of one line that are not termios bits.
struct LineSettings {
    bool dsr_flow = false;  // DSR gates output (state_dsr_flow); no termios bit names it
    std::uint32_t close_delay_ms = 500;
    // Longest wait for the transmit ring to drain at the last close. 0: as long as close()'s
    // own limit allows; `closing_wait_none`: no wait at all.
    std::uint32_t closing_wait_ms = 30000;
};
inline constexpr std::uint32_t closing_wait_none = 0xffffffffu;

// Customary values of the serial-info record.
inline constexpr std::uint16_t async_closing_wait_none = 65535;
inline constexpr std::uint32_t port_flags_user_changeable = 0x17fff;

// Reached as `machine.subsystem<SerialCore>()`; the C services use the current machine's.
class SerialCore : public Subsystem {
public:
    explicit SerialCore(Machine& machine);
    ~SerialCore() override;
    SerialCore(const SerialCore&) = delete;
    SerialCore& operator=(const SerialCore&) = delete;

    // ---- Registration side: the uart_* services land here. ----
    int register_driver(uart_driver* driver);
    void unregister_driver(uart_driver* driver);
    int add_one_port(uart_driver* driver, uart_port* port);
    int remove_one_port(uart_driver* driver, uart_port* port);
    int suspend_port(uart_driver* driver, uart_port* port);
    int resume_port(uart_driver* driver, uart_port* port);
    void write_wakeup(uart_port* port);
    unsigned int hz() const;

    // ---- Inspection ----
    // The registered driver for a character major, or null.
    const uart_driver* driver_for_major(int major) const;
    // The port added at line `line` of the driver for `major`, or null.
    uart_port* port_at(unsigned int line, int major = 4) const;
    // /proc/tty/driver/<name> of a registered driver; empty when there is none.
    std::string proc_driver_text(std::string_view driver_name);
    // Write wake-ups delivered for a line so far.
    unsigned long write_wakeups(unsigned int line, int major = 4) const;
    LineSettings line_settings(unsigned int line, int major = 4) const;
    int set_line_settings(unsigned int line, const LineSettings& settings, int major = 4);

    // ---- Process side ----
    KernelResult<FileHandle> open(std::string_view device, OpenMode mode = OpenMode::blocking,
                                  MachineDuration limit = default_wait_limit);
    int close(FileHandle file, MachineDuration limit = std::chrono::seconds(60));
    KernelResult<ReadResult> read(FileHandle file, ReadRequest request = {});
    KernelResult<std::size_t> write(FileHandle file, std::span<const unsigned char> bytes,
                                    MachineDuration limit = default_wait_limit);
    KernelResult<PollState> poll(FileHandle file);

    KernelResult<ktermios> get_termios(FileHandle file);                          // TCGETS
    int set_termios(FileHandle file, const ktermios& settings,
                    SettingsWhen when = SettingsWhen::now,
                    MachineDuration limit = default_wait_limit);                  // TCSETS*
    KernelResult<unsigned int> get_modem_lines(FileHandle file);                  // TIOCMGET
    int set_modem_lines(FileHandle file, unsigned int lines);                     // TIOCMSET
    int raise_modem_lines(FileHandle file, unsigned int lines);                   // TIOCMBIS
    int lower_modem_lines(FileHandle file, unsigned int lines);                   // TIOCMBIC
    // TCSBRK 0 / TCSBRKP: drain, break on, wait `duration` of machine time, break off.
    int send_break(FileHandle file, MachineDuration duration = std::chrono::milliseconds(250));
    int set_break(FileHandle file, bool on);                                      // TIOCSBRK/CBRK
    // tcdrain: the transmit ring empty and the transmitter idle.
    int drain(FileHandle file, MachineDuration limit = default_wait_limit);
    int flush(FileHandle file, FlushQueues queues);                               // TCFLSH
    int flow(FileHandle file, FlowAction action);                                 // TCXONC
    KernelResult<requested_settings> get_serial_info(FileHandle file);            // TIOCGSERIAL
    int set_serial_info(FileHandle file, const requested_settings& settings);     // TIOCSSERIAL
    KernelResult<uart_icount> get_counters(FileHandle file);                      // TIOCGICOUNT
    // TIOCMIWAIT: waits until one of the lines in `mask` (TIOCM_RNG, TIOCM_DSR, TIOCM_CAR,
    // TIOCM_CTS) has changed.
    int wait_modem_change(FileHandle file, unsigned int mask,
                          MachineDuration limit = default_wait_limit);
    // Bytes waiting in the transmit ring (TIOCOUTQ) and for the reader (TIOCINQ).
    KernelResult<std::size_t> output_pending(FileHandle file);
    KernelResult<std::size_t> input_pending(FileHandle file);

    // The tty of an open file, for inspection; kept after a hang-up so that its events can be
    // read. Null for a handle that is not open.
    Tty* tty_of(FileHandle file);
    // The line an open file is on.
    KernelResult<unsigned int> line_of(FileHandle file) const;
    // Carries out hang-ups that drivers asked for (also done at every process-side call).
    void run_deferred_work();

private:
    struct Line;
    struct DriverState;
    struct OpenFile;

    DriverState* find_driver(const uart_driver* driver) const;
    DriverState* find_driver_by_major(int major) const;
    Line* line_of_port(const uart_port* port) const;
    KernelResult<OpenFile*> file_for(FileHandle file);
    KernelResult<Line*> live_line(FileHandle file, bool needs_hardware);

    void configure_port(DriverState& driver, Line& line);
    void report_port(const DriverState& driver, const uart_port& port);
    void unconfigure_port(Line& line);
    void change_pm(Line& line, unsigned int state);

    int startup(Line& line, bool apply_settings);
    void shutdown(Line& line);
    void change_speed(Line& line, const ktermios* old_settings);
    void update_flow_flags(Line& line);
    void update_mctrl(Line& line, unsigned int set, unsigned int clear);
    void start_output(Line& line);
    void stop_output(Line& line);
    void send_xchar(Line& line, unsigned char character);
    void throttle(Line& line);
    void unthrottle(Line& line);
    void hang_up(Line& line);
    int wait_until_sent(Line& line, MachineDuration limit);
    void wait_transmitter_empty(Line& line, unsigned long ticks_limit);
    int wait_for_carrier(Line& line, OpenFile& file, MachineDuration limit);
    void release_tty(Line& line);
    int apply_serial_info(Line& line, const requested_settings& settings);
    bool run_until(const std::function<bool()>& done, MachineDuration limit);
    void run_for(MachineDuration duration);

    Machine& machine_;
    std::vector<std::unique_ptr<DriverState>> drivers_;
    std::map<int, std::unique_ptr<OpenFile>> files_;
    int next_file_id_ = 3;  // like a process whose standard streams are open
};

}  // namespace sim::kernel
