// The stty words serial users type (speeds, cs5-cs8, parenb, -crtscts, ...) applied to a
// kernel termios record, and the record shown the way `stty -a` shows it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "drivers/serial/kernel/termios.h"
#include "tools/serial-lab/command_registry.h"
#include "tools/serial-lab/status.h"

namespace lab {

// The rate for a speed code in c_cflag, or nullopt for a code that has none.
std::optional<unsigned> baud_of(tcflag_t cflag);
// The speed code for a standard rate.
std::optional<tcflag_t> speed_code(unsigned rate);

// Applies every word in order to a copy of `settings`; the first bad word fails the whole set,
// so nothing is applied. Accepts: a rate ("115200"), "ispeed N"/"ospeed N", cs5..cs8, the flags
// below with "-" to clear, "raw", "sane", "min N", "time N".
Expected<ktermios> apply_stty_words(const ktermios& settings, Arguments words);

// The `stty -a` report.
std::string format_stty_all(const ktermios& settings);
// The short report of a bare `stty`: the speed and the framing and control flags.
std::string format_stty_short(const ktermios& settings);

// Names of the words the lab knows, for help and completion.
std::string stty_word_list();

}  // namespace lab
