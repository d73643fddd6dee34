// Valid UTF-8 for the JSON event stream: a text from the unit or the user
// may hold any bytes, and a strict JSON reader refuses a line that is not
// UTF-8. Every well-formed UTF-8 sequence (a NUL byte too) passes unchanged;
// each maximal ill-formed part (a stray continuation byte, a cut sequence,
// an overlong form, a surrogate, a code point above U+10FFFF, the bytes
// 0xC0, 0xC1 and 0xF5-0xFF) becomes one U+FFFD, as Unicode recommends.
//
// Threads: a pure function, callable from any thread.
#ifndef VERU_CONSOLE_REPORT_UTF8_TEXT_H
#define VERU_CONSOLE_REPORT_UTF8_TEXT_H

#include <string>
#include <string_view>

std::string ValidUtf8(std::string_view sText);

#endif  // VERU_CONSOLE_REPORT_UTF8_TEXT_H
