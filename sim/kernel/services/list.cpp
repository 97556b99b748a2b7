// The kernel's list primitives, with the corruption checks of a debugging kernel: a broken ring
// stops the machine where it is found instead of spreading.
#include "drivers/serial/kernel/list.h"

#include <fmt/format.h>

#include "sim/kernel/base/stop.h"
#include "sim/kernel/base/symbolize.h"

namespace {

bool poisoned(const list_head* link) {
    const auto at = reinterpret_cast<unsigned long>(link);
    return at == list_poison_next || at == list_poison_prev;
}

std::string where(const void* caller) { return sim::kernel::describe_address(caller); }

}  // namespace

extern "C" void list_add(list_head* entry, list_head* head) {
    const void* caller = __builtin_return_address(0);
    if (entry == nullptr || head == nullptr) {
        sim::kernel::stop_machine(fmt::format("list_add with a null link; called from {}", where(caller)));
    }
    list_head* next = head->next;
    if (next == nullptr || poisoned(next) || next->prev != head) {
        sim::kernel::stop_machine(fmt::format(
            "list_add corruption: head {} has next {} whose prev is not the head; called from {}",
            static_cast<const void*>(head), static_cast<const void*>(next), where(caller)));
    }
    if (entry == head || entry == next) {
        sim::kernel::stop_machine(fmt::format("list_add of {} next to itself; called from {}",
                                              static_cast<const void*>(entry), where(caller)));
    }
    next->prev = entry;
    entry->next = next;
    entry->prev = head;
    head->next = entry;
}

extern "C" void list_del(list_head* entry) {
    const void* caller = __builtin_return_address(0);
    if (entry == nullptr) {
        sim::kernel::stop_machine(fmt::format("list_del of a null link; called from {}", where(caller)));
    }
    if (poisoned(entry->next) || poisoned(entry->prev)) {
        sim::kernel::stop_machine(fmt::format("list_del of {}, which was already removed; called "
                                              "from {}",
                                              static_cast<const void*>(entry), where(caller)));
    }
    if (entry->next == nullptr || entry->prev == nullptr || entry->prev->next != entry ||
        entry->next->prev != entry) {
        sim::kernel::stop_machine(fmt::format(
            "list_del corruption: the neighbours of {} do not point back at it; called from {}",
            static_cast<const void*>(entry), where(caller)));
    }
    entry->next->prev = entry->prev;
    entry->prev->next = entry->next;
    entry->next = reinterpret_cast<list_head*>(list_poison_next);
    entry->prev = reinterpret_cast<list_head*>(list_poison_prev);
}
