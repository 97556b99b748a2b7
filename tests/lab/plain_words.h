// Words as the tokenizer hands them on for a line typed without quotes.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tools/serial-lab/tokenizer.h"

namespace lab {

inline Words words_of(std::vector<std::string> texts) {
    Words words;
    for (auto& text : texts) words.push_back(Word{std::move(text), false});
    return words;
}

}  // namespace lab
