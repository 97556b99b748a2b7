#include "tools/serial-lab/tty/stty_words.h"

#include <array>
#include <cctype>
#include <span>

#include <fmt/format.h>

#include "tools/serial-lab/numbers.h"

namespace lab {
namespace {

struct SpeedEntry {
    unsigned rate;
    tcflag_t code;
};

constexpr std::array<SpeedEntry, 31> speeds{{
    {0, B0},           {50, B50},           {75, B75},           {110, B110},
    {134, B134},       {150, B150},         {200, B200},         {300, B300},
    {600, B600},       {1200, B1200},       {1800, B1800},       {2400, B2400},
    {4800, B4800},     {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},   {115200, B115200},   {230400, B230400},   {460800, B460800},
    {500000, B500000}, {576000, B576000},   {921600, B921600},   {1000000, B1000000},
    {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000},
    {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
}};

enum class Field { iflag, oflag, cflag, lflag };

struct FlagWord {
    std::string_view name;
    Field field;
    tcflag_t mask;
};

// In the order `stty -a` prints them, line by line.
constexpr std::array<FlagWord, 9> control_words{{
    {"parenb", Field::cflag, PARENB}, {"parodd", Field::cflag, PARODD},
    {"cmspar", Field::cflag, CMSPAR}, {"hupcl", Field::cflag, HUPCL},
    {"cstopb", Field::cflag, CSTOPB}, {"cread", Field::cflag, CREAD},
    {"clocal", Field::cflag, CLOCAL}, {"crtscts", Field::cflag, CRTSCTS},
    {"", Field::cflag, 0},  // placeholder for cs5..cs8, printed after cmspar
}};
constexpr std::array<FlagWord, 12> input_words{{
    {"ignbrk", Field::iflag, IGNBRK}, {"brkint", Field::iflag, BRKINT},
    {"ignpar", Field::iflag, IGNPAR}, {"parmrk", Field::iflag, PARMRK},
    {"inpck", Field::iflag, INPCK},   {"istrip", Field::iflag, ISTRIP},
    {"inlcr", Field::iflag, INLCR},   {"igncr", Field::iflag, IGNCR},
    {"icrnl", Field::iflag, ICRNL},   {"ixon", Field::iflag, IXON},
    {"ixoff", Field::iflag, IXOFF},   {"ixany", Field::iflag, IXANY},
}};
constexpr std::array<FlagWord, 2> output_words{{
    {"opost", Field::oflag, OPOST}, {"onlcr", Field::oflag, ONLCR},
}};
constexpr std::array<FlagWord, 6> local_words{{
    {"isig", Field::lflag, ISIG},   {"icanon", Field::lflag, ICANON},
    {"iexten", Field::lflag, IEXTEN}, {"echo", Field::lflag, ECHO},
    {"echoe", Field::lflag, ECHOE}, {"echok", Field::lflag, ECHOK},
}};

tcflag_t& field_of(ktermios& settings, Field field) {
    switch (field) {
        case Field::iflag: return settings.c_iflag;
        case Field::oflag: return settings.c_oflag;
        case Field::cflag: return settings.c_cflag;
        case Field::lflag: return settings.c_lflag;
    }
    return settings.c_cflag;
}

tcflag_t field_of(const ktermios& settings, Field field) {
    ktermios copy = settings;
    return field_of(copy, field);
}

const FlagWord* find_flag(std::string_view name) {
    for (auto table : {std::span<const FlagWord>(control_words), std::span<const FlagWord>(input_words),
                       std::span<const FlagWord>(output_words), std::span<const FlagWord>(local_words)}) {
        for (const auto& word : table) {
            if (!word.name.empty() && word.name == name) return &word;
        }
    }
    return nullptr;
}

void set_speed(ktermios& settings, tcflag_t code) {
    settings.c_cflag = (settings.c_cflag & ~CBAUD) | code;
}

Expected<tcflag_t> speed_from_word(std::string_view word) {
    auto rate = parse_number(word, "speed", 4'000'000);
    if (!rate) return rate.error();
    auto code = speed_code(static_cast<unsigned>(*rate));
    if (!code) return error(fmt::format("invalid speed '{}' (not a standard rate)", word));
    return *code;
}

std::string flag_line(const ktermios& settings, std::span<const FlagWord> words) {
    std::string line;
    for (const auto& word : words) {
        if (word.name.empty()) continue;
        const bool on = (field_of(settings, word.field) & word.mask) != 0;
        line += fmt::format("{}{}{}", line.empty() ? "" : " ", on ? "" : "-", word.name);
    }
    return line;
}

std::string size_word(const ktermios& settings) {
    switch (settings.c_cflag & CSIZE) {
        case CS5: return "cs5";
        case CS6: return "cs6";
        case CS7: return "cs7";
        default: return "cs8";
    }
}

std::string control_line(const ktermios& settings) {
    // stty's order: -parenb -parodd -cmspar cs8 hupcl -cstopb cread clocal -crtscts
    std::string line = flag_line(settings, std::span(control_words).subspan(0, 3));
    line += " " + size_word(settings) + " ";
    line += flag_line(settings, std::span(control_words).subspan(3, 5));
    return line;
}

std::string speed_text(const ktermios& settings) {
    const auto rate = baud_of(settings.c_cflag);
    return rate ? fmt::format("{}", *rate) : std::string("?");
}

std::string control_char(cc_t value) {
    if (value == 0) return "<undef>";
    if (value == 0x7f) return "^?";
    if (value < 0x20) return fmt::format("^{}", static_cast<char>(value + '@'));
    return fmt::format("{}", static_cast<char>(value));
}

}  // namespace

std::optional<unsigned> baud_of(tcflag_t cflag) {
    for (const auto& entry : speeds) {
        if (entry.code == (cflag & CBAUD)) return entry.rate;
    }
    return std::nullopt;
}

std::optional<tcflag_t> speed_code(unsigned rate) {
    for (const auto& entry : speeds) {
        if (entry.rate == rate) return entry.code;
    }
    return std::nullopt;
}

Expected<ktermios> apply_stty_words(const ktermios& settings, Arguments words) {
    ktermios result = settings;
    for (std::size_t index = 0; index < words.size(); ++index) {
        const std::string& word = words[index].text;
        const auto next_value = [&](std::string_view name) -> Expected<std::string> {
            if (index + 1 >= words.size()) return error(fmt::format("missing argument to '{}'", name));
            return words[++index].text;
        };
        if (!word.empty() && std::isdigit(static_cast<unsigned char>(word[0]))) {
            auto code = speed_from_word(word);
            if (!code) return code.error();
            set_speed(result, *code);
        } else if (word == "ispeed" || word == "ospeed") {
            // The kernel keeps one speed for both directions in c_cflag.
            auto value = next_value(word);
            if (!value) return value.error();
            auto code = speed_from_word(*value);
            if (!code) return code.error();
            set_speed(result, *code);
        } else if (word == "cs5" || word == "cs6" || word == "cs7" || word == "cs8") {
            static constexpr std::array<tcflag_t, 4> sizes{CS5, CS6, CS7, CS8};
            result.c_cflag = (result.c_cflag & ~CSIZE) | sizes[static_cast<std::size_t>(word[2] - '5')];
        } else if (word == "min" || word == "time") {
            auto value = next_value(word);
            if (!value) return value.error();
            auto number = parse_number(*value, word, 255);
            if (!number) return number.error();
            result.c_cc[word == "min" ? VMIN : VTIME] = static_cast<cc_t>(*number);
        } else if (word == "raw") {
            result.c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR |
                                ICRNL | IXON | IXOFF | IXANY);
            result.c_oflag &= ~OPOST;
            result.c_lflag &= ~(ISIG | ICANON | IEXTEN | ECHO | ECHOE | ECHOK);
            result.c_cc[VMIN] = 1;
            result.c_cc[VTIME] = 0;
        } else if (word == "sane") {
            result.c_iflag = (result.c_iflag & ~(IGNBRK | PARMRK | INLCR | IGNCR | IXOFF | IXANY)) |
                             BRKINT | ICRNL | IXON;
            result.c_oflag |= OPOST | ONLCR;
            result.c_lflag |= ISIG | ICANON | IEXTEN | ECHO | ECHOE | ECHOK;
            result.c_cflag |= CREAD;
        } else {
            const bool clear = word.starts_with('-');
            const FlagWord* flag = find_flag(clear ? std::string_view(word).substr(1) : word);
            if (flag == nullptr) return error(fmt::format("invalid argument '{}'", word));
            tcflag_t& field = field_of(result, flag->field);
            field = clear ? (field & ~flag->mask) : (field | flag->mask);
        }
    }
    return result;
}

std::string format_stty_all(const ktermios& settings) {
    std::string text = fmt::format("speed {} baud; line = {};\n", speed_text(settings), settings.c_line);
    text += fmt::format(
        "intr = {}; quit = {}; erase = {}; kill = {}; eof = {}; start = {}; stop = {}; min = {}; "
        "time = {};\n",
        control_char(settings.c_cc[VINTR]), control_char(settings.c_cc[VQUIT]),
        control_char(settings.c_cc[VERASE]), control_char(settings.c_cc[VKILL]),
        control_char(settings.c_cc[VEOF]), control_char(settings.c_cc[VSTART]),
        control_char(settings.c_cc[VSTOP]), settings.c_cc[VMIN], settings.c_cc[VTIME]);
    text += control_line(settings) + "\n";
    text += flag_line(settings, input_words) + "\n";
    text += flag_line(settings, output_words) + "\n";
    text += flag_line(settings, local_words) + "\n";
    return text;
}

std::string format_stty_short(const ktermios& settings) {
    return fmt::format("speed {} baud; line = {};\n{}\n", speed_text(settings), settings.c_line,
                       control_line(settings));
}

std::string stty_word_list() {
    std::string list = "N (a rate: 50 .. 4000000), ispeed N, ospeed N, cs5 cs6 cs7 cs8, ";
    for (auto table : {std::span<const FlagWord>(control_words), std::span<const FlagWord>(input_words),
                       std::span<const FlagWord>(output_words), std::span<const FlagWord>(local_words)}) {
        for (const auto& word : table) {
            if (!word.name.empty()) list += fmt::format("[-]{} ", word.name);
        }
    }
    list += "raw sane min N time N";
    return list;
}

}  // namespace lab
