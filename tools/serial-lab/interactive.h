// The interactive prompt: readline with history and completion of commands and devices. A bad
// line is reported and the prompt goes on.
#pragma once

namespace lab {

class Lab;
class Session;

// Runs until end of input or 'quit'. Returns the exit status (0).
int run_prompt(Lab& lab, Session& session);

}  // namespace lab
