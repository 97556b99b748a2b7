// The hardware a lab user placed: chips on boards at their addresses with their interrupt
// wiring, null-modem cables between chips, and host endpoints on chips' lines. Everything has a
// name ("com1", "chip3", "rsa0", "host0") so that later lines can refer to it.
//
// Every placement is checked in full before anything is built, so a refused line leaves the
// machine as it was.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sim/hw/board/board_interrupt.h"
#include "sim/hw/board/four_port_board.h"
#include "sim/hw/board/hub6_board.h"
#include "sim/hw/board/mmio_board.h"
#include "sim/hw/board/pc_card.h"
#include "sim/hw/board/rsa_board.h"
#include "sim/hw/bus.h"
#include "sim/hw/interrupt_controller.h"
#include "sim/hw/line/host_endpoint.h"
#include "sim/hw/line/null_modem.h"
#include "sim/hw/uart/odd_uarts.h"
#include "sim/hw/uart/uart_chip.h"
#include "sim/hw/uart/uart_presets.h"
#include "tools/serial-lab/status.h"

namespace lab {

// How the driver reaches a chip's registers, in its own access kinds.
enum class RegisterAccess : std::uint8_t { port_io = 0, hub6 = 1, mem8 = 2, mem32 = 3, mem8_quirk = 5 };

struct ChipAddress {
    RegisterAccess access = RegisterAccess::port_io;
    std::uint64_t base = 0;      // I/O port (port_io, hub6) or physical address
    unsigned reg_shift = 0;
    std::uint8_t hub6_index = 0; // hub6 board: (port << 3) + 1, as the driver's index byte wants
    bool is_memory() const {
        return access == RegisterAccess::mem8 || access == RegisterAccess::mem32 ||
               access == RegisterAccess::mem8_quirk;
    }
};

struct PlacedChip {
    std::string name;
    std::string model;                     // the preset key, or "none" for an empty socket
    std::string board;                     // the board it sits on
    std::unique_ptr<sim::hw::UartChip> chip;       // null for an empty socket
    std::unique_ptr<sim::hw::AbsentUart> absent;
    ChipAddress address;
    sim::hw::InterruptWiring wiring;
    std::uint32_t clock_hz = 0;
    std::string attached;                  // the cable peer or host endpoint, empty when none

    sim::hw::UartRegisters& registers();
};

enum class BoardKind : std::uint8_t { pc, rsa, fourport, hub6, mmio, iirword };
std::string_view board_kind_name(BoardKind kind);
std::optional<BoardKind> board_kind_from_name(std::string_view name);

struct PlacedBoard {
    std::string name;
    BoardKind kind = BoardKind::pc;
    std::vector<std::string> chips;
    std::variant<std::monostate, std::unique_ptr<sim::hw::PcSerialCard>, std::unique_ptr<sim::hw::RsaBoard>,
                 std::unique_ptr<sim::hw::FourPortBoard>, std::unique_ptr<sim::hw::Hub6Board>,
                 std::unique_ptr<sim::hw::MmioUartBoard>, std::unique_ptr<sim::hw::IirWordBoard>>
        device;
};

// What a board placement asks for, already parsed.
struct BoardRequest {
    BoardKind kind = BoardKind::pc;
    std::string name;                     // empty: chosen
    std::vector<std::string> models;      // one per chip; empty entries take the board's default
    std::vector<std::string> chip_names;  // empty: chosen
    std::uint64_t base = 0;               // I/O port or physical address
    sim::hw::InterruptWiring wiring = sim::hw::InterruptWiring::none();
    std::optional<std::uint32_t> clock_hz;
    unsigned reg_shift = 0;
    unsigned width = 1;                   // mmio: 1 or 4 bytes
    std::optional<sim::hw::InterruptGate> gate;
};

struct HostRequest {
    std::string name;  // empty: chosen
    std::string chip;
    sim::hw::HostSettings settings;
    bool honour_rts = false;
};

struct PlacedHost {
    std::string name;
    std::string chip;
    std::unique_ptr<sim::hw::HostEndpoint> endpoint;
    std::size_t shown = 0;  // received characters already shown by 'host read'
};

class Hardware {
public:
    Hardware(sim::hw::EventQueue& events, sim::hw::Bus& bus, sim::hw::InterruptController& controller);
    ~Hardware();
    Hardware(const Hardware&) = delete;
    Hardware& operator=(const Hardware&) = delete;

    // Returns the board's name.
    Expected<std::string> add_board(const BoardRequest& request);
    Status remove_board(std::string_view name);
    Status connect_cable(std::string_view first_chip, std::string_view second_chip);
    Status remove_cable(std::string_view chip);
    Expected<std::string> attach_host(const HostRequest& request);
    Status detach_host(std::string_view name);

    PlacedChip* chip(std::string_view name);
    PlacedBoard* board(std::string_view name);
    PlacedHost* host(std::string_view name);
    // The chip whose registers the driver reaches at this address, if one was placed there.
    PlacedChip* chip_at(const ChipAddress& address);
    PlacedChip* chip_at_io(std::uint64_t base);
    PlacedChip* chip_at_memory(std::uint64_t phys);

    // In placement order.
    std::vector<const PlacedChip*> chips() const;
    std::vector<const PlacedBoard*> boards() const;
    std::vector<const PlacedHost*> hosts() const;
    std::vector<std::string> names() const;  // chips, boards and hosts

    std::string describe() const;  // the 'hardware' listing

private:
    Status check_name_free(std::string_view name) const;
    std::string next_name(std::string_view stem, const std::vector<std::string>& also_taken) const;
    Status check_range_free(bool memory, std::uint64_t base, std::uint64_t length) const;

    sim::hw::EventQueue& events_;
    sim::hw::Bus& bus_;
    sim::hw::InterruptController& controller_;
    // Boards before chips: a board keeps references to its chips. Cables and hosts go first.
    std::vector<std::unique_ptr<PlacedChip>> chips_;
    std::vector<std::unique_ptr<PlacedBoard>> boards_;
    std::map<std::string, std::unique_ptr<sim::hw::NullModemCable>, std::less<>> cables_;  // by first chip
    std::vector<std::unique_ptr<PlacedHost>> hosts_;
    struct Claim {
        bool memory;
        std::uint64_t base;
        std::uint64_t length;
        std::string board;
    };
    std::vector<Claim> claims_;
};

}  // namespace lab
