// Splitting lab lines into statements and words, the way a shell user expects: blanks separate
// words, "double quotes" keep blanks and take C escapes (\r \n \t \\ \" \xHH \0 \e), 'single
// quotes' keep everything as typed, an unquoted # starts a comment, an unquoted ; ends a
// statement.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/serial-lab/status.h"

namespace lab {

struct Word {
    std::string text;
    bool quoted = false;  // any part was quoted: never taken as an operator such as ">"
    bool operator==(const Word&) const = default;
};

using Words = std::vector<Word>;

// Statements of one line, split at unquoted ';', comments removed. Quotes are kept so that
// each statement can be tokenized on its own.
Expected<std::vector<std::string>> split_statements(std::string_view line);

// The words of one statement.
Expected<Words> tokenize(std::string_view statement);

// A text with C escapes (as inside double quotes) turned into its bytes.
Expected<std::string> unescape(std::string_view text);

// A byte string shown with escapes, the inverse of unescape for display ("hi\r\n").
std::string escape_for_display(std::string_view bytes);

}  // namespace lab
