// Text for people: the diagnostic sink, the console, and the conversion
// between the GBK text of our files and the terminal's character set.
#pragma once

#include <string>
#include <string_view>

namespace ov::platform {

// The debugger on Windows (OutputDebugStringA); standard error elsewhere.
void DebugOutput(std::string_view text);

// Gives the process a console the first time it is asked (a GUI or service
// process has none). Always true where a process owns a terminal.
bool AllocateConsole();
// Writes to the console's standard output / standard error.
void ConsoleOutput(std::string_view text);
void ErrorOutput(std::string_view text);

// Terminal text to GBK; false when it holds a character that GBK lacks or
// is not valid in the terminal's character set.
bool TerminalToGbk(std::string_view text, std::string* gbk);
// GBK to terminal text; characters that cannot be shown become '?'.
std::string GbkToTerminal(std::string_view gbk);

}  // namespace ov::platform
