// Terminal text: what a controller unit, a forward server or a locator sends
// (names, comments, variable values, addresses, error messages) is printed
// through these helpers, so that no byte of it can drive the terminal: a
// reply cannot recolour or clear the screen, move the cursor or forge a line
// of the report.
//
// Control bytes 0x00-0x1F and 0x7F come out as escapes: "\t", "\n" and "\r"
// for those three, "\xNN" (two lower-case hex digits) for the others, NUL
// and ESC included. Every other byte, UTF-8 sequences and the backslash
// included, comes out unchanged, so ordinary text prints byte for byte.
// The model keeps the bytes as received; only the printing escapes.
//
// Threads: pure functions, callable from any thread.
#ifndef VERU_ENGINE_TERMINAL_TEXT_H
#define VERU_ENGINE_TERMINAL_TEXT_H

#include <string>
#include <string_view>

namespace Veru {

// Appends sText to *pOut with its control bytes escaped.
void AppendEscaped(std::string* pOut, std::string_view sText);

// sText with its control bytes escaped.
std::string EscapeControlBytes(std::string_view sText);

}  // namespace Veru

#endif  // VERU_ENGINE_TERMINAL_TEXT_H
