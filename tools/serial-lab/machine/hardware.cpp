#include "tools/serial-lab/machine/hardware.h"

#include <algorithm>
#include <array>
#include <cctype>

#include <fmt/format.h>

#include "sim/hw/logging.h"

namespace lab {
namespace {

using sim::hw::InterruptGate;
using sim::hw::InterruptWiring;

std::string lower(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

constexpr std::array<std::pair<BoardKind, std::string_view>, 6> board_kinds{{
    {BoardKind::pc, "pc"}, {BoardKind::rsa, "rsa"}, {BoardKind::fourport, "fourport"},
    {BoardKind::hub6, "hub6"}, {BoardKind::mmio, "mmio"}, {BoardKind::iirword, "iirword"}}};

// The chip a board carries when the user names none.
std::string_view default_model(BoardKind kind) {
    return kind == BoardKind::rsa ? "rsa-16550a" : "16550a";
}

unsigned chip_count(const BoardRequest& request) {
    switch (request.kind) {
        case BoardKind::fourport: return 4;
        case BoardKind::hub6: return std::max<unsigned>(1, static_cast<unsigned>(request.models.size()));
        default: return 1;
    }
}

// The address range a board takes on its bus.
std::pair<std::uint64_t, std::uint64_t> board_range(const BoardRequest& request) {
    switch (request.kind) {
        case BoardKind::pc: return {request.base, 8};
        case BoardKind::rsa: return {request.base - 8, 16};
        case BoardKind::fourport: return {request.base, 0x20};
        case BoardKind::hub6: return {request.base, 2};
        case BoardKind::mmio: return {request.base, std::uint64_t{8} << request.reg_shift};
        case BoardKind::iirword: return {request.base, 8};
    }
    return {request.base, 8};
}

bool is_memory_board(BoardKind kind) { return kind == BoardKind::mmio || kind == BoardKind::iirword; }

std::string wiring_text(const InterruptWiring& wiring) {
    if (!wiring.line) return "irq none";
    return fmt::format("irq {} {}", static_cast<std::uint32_t>(*wiring.line),
                       wiring.trigger == sim::hw::Trigger::edge ? "edge" : "level");
}

std::string address_text(const ChipAddress& address) {
    switch (address.access) {
        case RegisterAccess::port_io: return fmt::format("io {:#x}", address.base);
        case RegisterAccess::hub6: return fmt::format("hub6 {:#x} port {}", address.base, address.hub6_index >> 3);
        case RegisterAccess::mem8: return fmt::format("mem {:#x} shift {} width 1", address.base, address.reg_shift);
        case RegisterAccess::mem32: return fmt::format("mem {:#x} shift {} width 4", address.base, address.reg_shift);
        case RegisterAccess::mem8_quirk: return fmt::format("mem {:#x} (IIR in word lane)", address.base);
    }
    return {};
}

}  // namespace

sim::hw::UartRegisters& PlacedChip::registers() {
    if (chip) return *chip;
    return *absent;
}

std::string_view board_kind_name(BoardKind kind) {
    for (const auto& [known, name] : board_kinds) {
        if (known == kind) return name;
    }
    return "?";
}

std::optional<BoardKind> board_kind_from_name(std::string_view name) {
    const std::string wanted = lower(name);
    for (const auto& [kind, known] : board_kinds) {
        if (known == wanted) return kind;
    }
    return std::nullopt;
}

Hardware::Hardware(sim::hw::EventQueue& events, sim::hw::Bus& bus, sim::hw::InterruptController& controller)
    : events_(events), bus_(bus), controller_(controller) {}

Hardware::~Hardware() {
    // Endpoints and cables let go of the chips' lines first, then boards release their bus
    // claims and their chips, then the chips go.
    hosts_.clear();
    cables_.clear();
    boards_.clear();
    chips_.clear();
}

Status Hardware::check_name_free(std::string_view name) const {
    if (name.empty()) return error("a name must not be empty");
    for (char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') {
            return error(fmt::format("bad name '{}' (letters, digits, '-' and '_')", name));
        }
    }
    if (name.starts_with("ttyS")) return error(fmt::format("'{}' is a device name; choose another", name));
    const auto names_now = names();
    if (std::find(names_now.begin(), names_now.end(), name) != names_now.end()) {
        return error(fmt::format("the name '{}' is taken", name));
    }
    return ok();
}

std::string Hardware::next_name(std::string_view stem, const std::vector<std::string>& also_taken) const {
    const auto names_now = names();
    for (unsigned number = 0;; ++number) {
        std::string candidate = fmt::format("{}{}", stem, number);
        const auto taken = [&](const std::vector<std::string>& list) {
            return std::find(list.begin(), list.end(), candidate) != list.end();
        };
        if (!taken(names_now) && !taken(also_taken)) return candidate;
    }
}

Status Hardware::check_range_free(bool memory, std::uint64_t base, std::uint64_t length) const {
    for (const auto& claim : claims_) {
        if (claim.memory != memory) continue;
        if (base < claim.base + claim.length && claim.base < base + length) {
            return error(fmt::format("{} {:#x}-{:#x} would overlap {}", memory ? "memory" : "I/O ports", base,
                                     base + length - 1, claim.board));
        }
    }
    return ok();
}

Expected<std::string> Hardware::add_board(const BoardRequest& request) {
    // Everything is checked before anything is built.
    const unsigned count = chip_count(request);
    if (request.kind != BoardKind::hub6 && request.models.size() > count) {
        return error(fmt::format("a {} board carries {} chip{}", board_kind_name(request.kind), count,
                                 count == 1 ? "" : "s"));
    }
    if (request.kind == BoardKind::hub6 && count > sim::hw::Hub6Board::max_ports) {
        return error(fmt::format("a hub6 board carries at most {} chips", sim::hw::Hub6Board::max_ports));
    }
    if (request.kind == BoardKind::fourport && request.base % 0x20 != 0) {
        return error(fmt::format("a fourport board sits at a multiple of 0x20, not {:#x}", request.base));
    }
    if (request.kind == BoardKind::rsa && request.base < 8) return error("an RSA board needs 8 ports below its UART");
    const auto [start, length] = board_range(request);
    const bool memory = is_memory_board(request.kind);
    if (!memory && start + length > 0x10000) {
        return error(fmt::format("I/O ports {:#x}-{:#x} run past 0xffff", start, start + length - 1));
    }
    if (auto free = check_range_free(memory, start, length); !free) return free.error();
    if (request.wiring.line && static_cast<std::uint32_t>(*request.wiring.line) >= sim::hw::interrupt_line_count) {
        return error(fmt::format("irq {} is past the last line ({})", static_cast<std::uint32_t>(*request.wiring.line),
                                 sim::hw::interrupt_line_count - 1));
    }
    if (request.clock_hz && *request.clock_hz == 0) return error("clock must not be 0");
    if (request.wiring.line) {
        // One line has one trigger mode: an ISA edge line cannot also be a level line.
        for (const auto& placed : chips_) {
            if (placed->wiring.line == request.wiring.line && placed->wiring.trigger != request.wiring.trigger) {
                return error(fmt::format("irq {} is {}-triggered for {}", static_cast<std::uint32_t>(*request.wiring.line),
                                         placed->wiring.trigger == sim::hw::Trigger::edge ? "edge" : "level",
                                         placed->board));
            }
        }
    }

    std::vector<std::string> models;
    for (unsigned index = 0; index < count; ++index) {
        std::string model = index < request.models.size() && !request.models[index].empty()
                                ? lower(request.models[index])
                                : std::string(default_model(request.kind));
        if (model != "none" && !sim::hw::uart_model_by_key(model)) {
            std::string known;
            for (const auto& preset : sim::hw::uart_presets()) known += fmt::format(" {}", preset.key);
            return error(fmt::format("no chip model '{}' (models:{} none)", request.models[index], known));
        }
        if (request.kind == BoardKind::rsa && model == "none") return error("an RSA board needs its UART");
        models.push_back(std::move(model));
    }
    std::string board_name = request.name;
    if (!board_name.empty()) {
        if (auto free = check_name_free(board_name); !free) return free.error();
    }
    std::vector<std::string> chip_names;
    for (unsigned index = 0; index < count; ++index) {
        std::string name = index < request.chip_names.size() ? request.chip_names[index] : std::string();
        // The one chip of a board that was given a name answers to that name too.
        if (name.empty() && count == 1 && request.chip_names.empty()) name = board_name;
        if (!name.empty()) {
            if (name != board_name) {
                if (auto free = check_name_free(name); !free) return free.error();
            }
            // A PC card and its one chip may share a name ("com1").
            const bool shares_board_name = name == board_name && count == 1;
            if (std::count(chip_names.begin(), chip_names.end(), name) > 0 || (name == board_name && !shares_board_name)) {
                return error(fmt::format("the name '{}' is given twice", name));
            }
        }
        chip_names.push_back(std::move(name));
    }
    // Names still to choose are picked now that the given ones are known to be free.
    std::vector<std::string> taken = chip_names;
    taken.push_back(board_name);
    for (auto& name : chip_names) {
        if (!name.empty()) continue;
        name = next_name("chip", taken);
        taken.push_back(name);
    }
    if (board_name.empty()) {
        board_name = request.kind == BoardKind::pc && count == 1 ? chip_names[0]
                                                                  : next_name(board_kind_name(request.kind), taken);
    }

    auto board = std::make_unique<PlacedBoard>();
    board->name = board_name;
    board->kind = request.kind;
    std::vector<std::unique_ptr<PlacedChip>> made;
    for (unsigned index = 0; index < count; ++index) {
        auto placed = std::make_unique<PlacedChip>();
        placed->name = chip_names[index];
        placed->model = models[index];
        placed->board = board_name;
        placed->wiring = request.wiring;
        if (models[index] == "none") {
            placed->absent = std::make_unique<sim::hw::AbsentUart>();
        } else {
            placed->chip = std::make_unique<sim::hw::UartChip>(events_, *sim::hw::uart_model_by_key(models[index]));
            if (request.clock_hz) placed->chip->set_input_clock(*request.clock_hz);
            placed->clock_hz = placed->chip->input_clock();
        }
        if (placed->clock_hz == 0) placed->clock_hz = request.clock_hz.value_or(1'843'200);
        ChipAddress& address = placed->address;
        address.base = request.base;
        switch (request.kind) {
            case BoardKind::fourport: address.base = request.base + 8 * index; break;
            case BoardKind::hub6:
                address.access = RegisterAccess::hub6;
                // The index byte the driver writes is hub6_index - 1 + register: card in bits
                // 7-6, port in bits 5-3 (card 0 here), so port n is reached with (n << 3) + 1.
                address.hub6_index = static_cast<std::uint8_t>((index << 3) + 1);
                break;
            case BoardKind::mmio:
                address.access = request.width == 4 ? RegisterAccess::mem32 : RegisterAccess::mem8;
                address.reg_shift = request.reg_shift;
                break;
            case BoardKind::iirword: address.access = RegisterAccess::mem8_quirk; break;
            default: break;
        }
        board->chips.push_back(placed->name);
        made.push_back(std::move(placed));
    }

    try {
        const auto base16 = static_cast<std::uint16_t>(request.base);
        switch (request.kind) {
            case BoardKind::pc:
                board->device = std::make_unique<sim::hw::PcSerialCard>(
                    bus_, controller_, made[0]->registers(), base16, request.wiring, board_name,
                    request.gate.value_or(InterruptGate::out2));
                break;
            case BoardKind::rsa:
                board->device = std::make_unique<sim::hw::RsaBoard>(bus_, controller_, *made[0]->chip, base16,
                                                                     request.wiring, board_name);
                break;
            case BoardKind::fourport:
                board->device = std::make_unique<sim::hw::FourPortBoard>(
                    bus_, controller_,
                    std::array<sim::hw::UartRegisters*, 4>{&made[0]->registers(), &made[1]->registers(),
                                                           &made[2]->registers(), &made[3]->registers()},
                    base16, request.wiring, board_name);
                break;
            case BoardKind::hub6: {
                std::vector<sim::hw::UartRegisters*> registers;
                for (auto& chip : made) registers.push_back(&chip->registers());
                board->device = std::make_unique<sim::hw::Hub6Board>(bus_, controller_, registers, base16,
                                                                      request.wiring, 0, board_name);
                break;
            }
            case BoardKind::mmio:
                board->device = std::make_unique<sim::hw::MmioUartBoard>(
                    bus_, controller_, made[0]->registers(), request.base, request.reg_shift, request.wiring,
                    board_name, request.gate.value_or(InterruptGate::none));
                break;
            case BoardKind::iirword:
                board->device = std::make_unique<sim::hw::IirWordBoard>(bus_, controller_, made[0]->registers(),
                                                                         request.base, request.wiring, board_name);
                break;
        }
    } catch (const sim::hw::ConfigurationError& failure) {
        return error(failure.what());
    }
    for (auto& chip : made) {
        // The RSA board runs its UART from the board's clock in FIFO mode; the chip reports it.
        if (chip->chip) chip->clock_hz = chip->chip->input_clock();
        chips_.push_back(std::move(chip));
    }
    claims_.push_back(Claim{memory, start, length, board_name});
    boards_.push_back(std::move(board));
    return board_name;
}

Status Hardware::remove_board(std::string_view name) {
    PlacedBoard* found = board(name);
    if (found == nullptr) {
        // A chip's name removes the board it sits on when it is the only chip there.
        if (PlacedChip* placed = chip(name)) {
            PlacedBoard* holder = board(placed->board);
            if (holder != nullptr && holder->chips.size() == 1) found = holder;
        }
    }
    if (found == nullptr) return error(fmt::format("no board '{}'", name));
    for (const auto& chip_name : found->chips) {
        const PlacedChip* placed = chip(chip_name);
        if (placed != nullptr && !placed->attached.empty()) {
            return error(fmt::format("{} is connected to {}; remove that first", chip_name, placed->attached));
        }
    }
    const std::string board_name = found->name;
    const std::vector<std::string> chip_names = found->chips;
    std::erase_if(boards_, [&](const auto& board) { return board->name == board_name; });
    std::erase_if(claims_, [&](const Claim& claim) { return claim.board == board_name; });
    std::erase_if(chips_, [&](const auto& chip) {
        return std::find(chip_names.begin(), chip_names.end(), chip->name) != chip_names.end();
    });
    return ok();
}

Status Hardware::connect_cable(std::string_view first_chip, std::string_view second_chip) {
    PlacedChip* first = chip(first_chip);
    PlacedChip* second = chip(second_chip);
    if (first == nullptr) return error(fmt::format("no chip '{}'", first_chip));
    if (second == nullptr) return error(fmt::format("no chip '{}'", second_chip));
    if (first == second) return error("a cable needs two different chips");
    for (PlacedChip* end : {first, second}) {
        if (!end->chip) return error(fmt::format("{} is an empty socket", end->name));
        if (!end->attached.empty()) return error(fmt::format("{} is already connected to {}", end->name, end->attached));
    }
    cables_.emplace(first->name, std::make_unique<sim::hw::NullModemCable>(*first->chip, *second->chip));
    first->attached = second->name;
    second->attached = first->name;
    return ok();
}

Status Hardware::remove_cable(std::string_view chip_name) {
    PlacedChip* end = chip(chip_name);
    if (end == nullptr) return error(fmt::format("no chip '{}'", chip_name));
    PlacedChip* other = end->attached.empty() ? nullptr : chip(end->attached);
    if (other == nullptr) return error(fmt::format("no cable on {}", chip_name));
    if (!cables_.erase(end->name)) cables_.erase(other->name);
    end->attached.clear();
    other->attached.clear();
    return ok();
}

Expected<std::string> Hardware::attach_host(const HostRequest& request) {
    PlacedChip* target = chip(request.chip);
    if (target == nullptr) return error(fmt::format("no chip '{}'", request.chip));
    if (!target->chip) return error(fmt::format("{} is an empty socket", target->name));
    if (!target->attached.empty()) {
        return error(fmt::format("{} is already connected to {}", target->name, target->attached));
    }
    std::string name = request.name;
    if (name.empty()) {
        name = next_name("host", {});
    } else if (auto free = check_name_free(name); !free) {
        return free.error();
    }
    auto placed = std::make_unique<PlacedHost>();
    placed->name = name;
    placed->chip = target->name;
    placed->endpoint = std::make_unique<sim::hw::HostEndpoint>(events_, request.settings);
    placed->endpoint->set_flow_control(request.honour_rts);
    placed->endpoint->connect(*target->chip);
    target->attached = name;
    hosts_.push_back(std::move(placed));
    return name;
}

Status Hardware::detach_host(std::string_view name) {
    PlacedHost* found = host(name);
    if (found == nullptr) return error(fmt::format("no host endpoint '{}'", name));
    if (PlacedChip* target = chip(found->chip)) target->attached.clear();
    found->endpoint->disconnect();
    const std::string gone(name);
    std::erase_if(hosts_, [&](const auto& placed) { return placed->name == gone; });
    return ok();
}

PlacedChip* Hardware::chip(std::string_view name) {
    for (auto& placed : chips_) {
        if (placed->name == name) return placed.get();
    }
    return nullptr;
}

PlacedBoard* Hardware::board(std::string_view name) {
    for (auto& placed : boards_) {
        if (placed->name == name) return placed.get();
    }
    return nullptr;
}

PlacedHost* Hardware::host(std::string_view name) {
    for (auto& placed : hosts_) {
        if (placed->name == name) return placed.get();
    }
    return nullptr;
}

PlacedChip* Hardware::chip_at(const ChipAddress& address) {
    for (auto& placed : chips_) {
        const ChipAddress& here = placed->address;
        if (here.is_memory() != address.is_memory()) continue;
        if (here.access == RegisterAccess::hub6 || address.access == RegisterAccess::hub6) {
            if (here.access == address.access && here.base == address.base && here.hub6_index == address.hub6_index) {
                return placed.get();
            }
            continue;
        }
        if (here.base == address.base) return placed.get();
    }
    return nullptr;
}

PlacedChip* Hardware::chip_at_io(std::uint64_t base) {
    return chip_at(ChipAddress{RegisterAccess::port_io, base, 0, 0});
}

PlacedChip* Hardware::chip_at_memory(std::uint64_t phys) {
    return chip_at(ChipAddress{RegisterAccess::mem8, phys, 0, 0});
}

std::vector<const PlacedChip*> Hardware::chips() const {
    std::vector<const PlacedChip*> result;
    for (const auto& placed : chips_) result.push_back(placed.get());
    return result;
}

std::vector<const PlacedBoard*> Hardware::boards() const {
    std::vector<const PlacedBoard*> result;
    for (const auto& placed : boards_) result.push_back(placed.get());
    return result;
}

std::vector<const PlacedHost*> Hardware::hosts() const {
    std::vector<const PlacedHost*> result;
    for (const auto& placed : hosts_) result.push_back(placed.get());
    return result;
}

std::vector<std::string> Hardware::names() const {
    std::vector<std::string> result;
    for (const auto& placed : chips_) result.push_back(placed->name);
    for (const auto& placed : boards_) {
        if (std::find(result.begin(), result.end(), placed->name) == result.end()) result.push_back(placed->name);
    }
    for (const auto& placed : hosts_) result.push_back(placed->name);
    return result;
}

std::string Hardware::describe() const {
    if (chips_.empty()) return "no hardware placed\n";
    std::string text;
    for (const auto& board : boards_) {
        for (const auto& chip_name : board->chips) {
            const auto found = std::find_if(chips_.begin(), chips_.end(),
                                            [&](const auto& chip) { return chip->name == chip_name; });
            if (found == chips_.end()) continue;
            const PlacedChip& placed = **found;
            std::string model = placed.chip ? std::string(placed.chip->features().part) : std::string("(empty socket)");
            text += fmt::format("{:<8} {:<14} {:<9} {:<30} {:<16} {}{}\n", placed.name, model,
                                board_kind_name(board->kind), address_text(placed.address), wiring_text(placed.wiring),
                                placed.chip ? fmt::format("clock {}", placed.clock_hz) : std::string(),
                                placed.attached.empty() ? "" : fmt::format(", to {}", placed.attached));
        }
    }
    return text;
}

}  // namespace lab
