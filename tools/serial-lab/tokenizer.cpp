#include "tools/serial-lab/tokenizer.h"

#include <cctype>

#include <fmt/format.h>

namespace lab {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes the escape that starts after the backslash at text[pos]; advances pos past it.
// Outside quotes (`literal_others`) a backslash before any other character keeps that
// character as typed, as a shell does: "one\ word", "\>", "\;".
Expected<char> decode_escape(std::string_view text, std::size_t& pos, bool literal_others = false) {
    if (pos >= text.size()) return error("a backslash ends the text");
    const char c = text[pos++];
    switch (c) {
        case 'n': return '\n';
        case 'r': return '\r';
        case 't': return '\t';
        case 'a': return '\a';
        case 'b': return '\b';
        case 'f': return '\f';
        case 'v': return '\v';
        case 'e': return '\x1b';
        case '0': return '\0';
        case '\\': return '\\';
        case '"': return '"';
        case '\'': return '\'';
        case 'x': {
            int value = 0;
            int digits = 0;
            while (digits < 2 && pos < text.size() && hex_digit_value(text[pos]) >= 0) {
                value = value * 16 + hex_digit_value(text[pos]);
                ++pos;
                ++digits;
            }
            if (digits == 0) return error("\\x needs one or two hex digits");
            return static_cast<char>(value);
        }
        default:
            if (literal_others) return c;
            return error(fmt::format("unknown escape '\\{}'", c));
    }
}

}  // namespace

Expected<std::vector<std::string>> split_statements(std::string_view line) {
    std::vector<std::string> statements;
    std::string current;
    char quote = 0;
    bool at_word_start = true;
    for (std::size_t pos = 0; pos < line.size(); ++pos) {
        const char c = line[pos];
        if (quote != 0) {
            current += c;
            if (c == '\\' && quote == '"' && pos + 1 < line.size()) {
                current += line[++pos];
            } else if (c == quote) {
                quote = 0;
            }
            continue;
        }
        if (c == '#' && at_word_start) break;
        if (c == ';') {
            statements.push_back(std::move(current));
            current.clear();
            at_word_start = true;
            continue;
        }
        if (c == '"' || c == '\'') quote = c;
        if (c == '\\' && pos + 1 < line.size()) {
            current += c;
            current += line[++pos];
            at_word_start = false;
            continue;
        }
        current += c;
        at_word_start = is_blank(c);
    }
    if (quote != 0) return error(fmt::format("unterminated {} quote", quote == '"' ? "double" : "single"));
    statements.push_back(std::move(current));
    // Statements holding only blanks are dropped: "a;;b" and a trailing ';' are harmless.
    std::vector<std::string> kept;
    for (auto& statement : statements) {
        bool blank = true;
        for (char c : statement) blank = blank && is_blank(c);
        if (!blank) kept.push_back(std::move(statement));
    }
    return kept;
}

Expected<Words> tokenize(std::string_view statement) {
    Words words;
    Word current;
    bool in_word = false;
    std::size_t pos = 0;
    while (pos < statement.size()) {
        const char c = statement[pos];
        if (is_blank(c)) {
            if (in_word) words.push_back(std::move(current));
            current = Word{};
            in_word = false;
            ++pos;
            continue;
        }
        if (c == '#' && !in_word) break;
        in_word = true;
        if (c == '\'') {
            const auto end = statement.find('\'', pos + 1);
            if (end == std::string_view::npos) return error("unterminated single quote");
            current.text.append(statement.substr(pos + 1, end - pos - 1));
            current.quoted = true;
            pos = end + 1;
        } else if (c == '"') {
            current.quoted = true;
            ++pos;
            for (;;) {
                if (pos >= statement.size()) return error("unterminated double quote");
                const char inner = statement[pos];
                if (inner == '"') {
                    ++pos;
                    break;
                }
                if (inner == '\\') {
                    ++pos;
                    auto decoded = decode_escape(statement, pos);
                    if (!decoded) return decoded.error();
                    current.text += *decoded;
                } else {
                    current.text += inner;
                    ++pos;
                }
            }
        } else if (c == '\\') {
            ++pos;
            auto decoded = decode_escape(statement, pos, true);
            if (!decoded) return decoded.error();
            current.text += *decoded;
            current.quoted = true;
        } else {
            current.text += c;
            ++pos;
        }
    }
    if (in_word) words.push_back(std::move(current));
    return words;
}

Expected<std::string> unescape(std::string_view text) {
    std::string bytes;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] == '\\') {
            ++pos;
            auto decoded = decode_escape(text, pos);
            if (!decoded) return decoded.error();
            bytes += *decoded;
        } else {
            bytes += text[pos++];
        }
    }
    return bytes;
}

std::string escape_for_display(std::string_view bytes) {
    std::string shown;
    for (unsigned char c : bytes) {
        switch (c) {
            case '\n': shown += "\\n"; break;
            case '\r': shown += "\\r"; break;
            case '\t': shown += "\\t"; break;
            case '\\': shown += "\\\\"; break;
            case '"': shown += "\\\""; break;
            default:
                if (std::isprint(c)) {
                    shown += static_cast<char>(c);
                } else {
                    shown += fmt::format("\\x{:02x}", c);
                }
        }
    }
    return shown;
}

}  // namespace lab
