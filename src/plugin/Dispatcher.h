// The command function's dispatcher: from a command text to the handler of its command.
#pragma once

#include <string>

namespace ORBA {

// Parses and runs one command text. Exceptions from parsing and handlers propagate.
void dispatchCommandText(std::string text);

}  // namespace ORBA
