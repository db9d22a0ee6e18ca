// Text for people: the diagnostic sink, the console, and the conversion
// between the GBK text of our files and the terminal's character set.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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
// GBK to terminal text; characters that cannot be shown become '?'
// (*lossless, when given, then becomes false).
std::string GbkToTerminal(std::string_view gbk, bool* lossless = nullptr);

// The program's arguments after its name, as GBK: on Windows taken from the
// wide command line, so that no character is turned into '?' by the ANSI
// code page on its way; elsewhere argv in the terminal's character set.
// False, with *why, at the first argument that cannot be carried: a
// character that GBK lacks, or any non-ASCII text where the terminal's
// locale (C/POSIX) has no character set for it.
bool ProgramArgumentsAsGbk(int argc, char** argv, std::vector<std::string>* args, std::string* why);

// Why the terminal may show text as '?': empty when its character set can
// carry Chinese text, else a sentence that names it and says what helps.
std::string TerminalCharsetLimit();

}  // namespace ov::platform
