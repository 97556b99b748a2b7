// The kernel's doubly linked ring. There is no separate head type: a ring can be entered at any
// member's link, which is how the interrupt chains use it.
#pragma once

struct list_head {
    list_head* next;
    list_head* prev;
};

inline void INIT_LIST_HEAD(list_head* node) {
    node->next = node;
    node->prev = node;
}

extern "C" {
// Inserts `entry` immediately after `head`.
void list_add(list_head* entry, list_head* head);
// Unlinks `entry` from its ring and poisons its links, so that a use after removal faults.
void list_del(list_head* entry);
}

inline constexpr unsigned long list_poison_next = 0x00100100;
inline constexpr unsigned long list_poison_prev = 0x00200200;
