// The one reading of a number that a person typed or a setting file holds:
// the text's leading decimal integer (blanks, one sign, digits), as the
// console has always read numbers. What a caller does with a value beyond
// its range or with text after the digits differs (a setting is clamped, a
// device number beyond 32 bits is refused, a level must be the whole word),
// so ReadNumberText only tells what it found and each caller says its rule
// at the call with the helpers below.
//
// Pure functions: no state, safe on any thread.
#ifndef VERU_CONSOLE_NUMBER_TEXT_H
#define VERU_CONSOLE_NUMBER_TEXT_H

#include <cstddef>
#include <string>

// What the start of a text holds.
struct NumberText {
  // Digits were found (after blanks and a sign).
  bool bDigits = false;
  // A '+' or '-' came before the digits.
  bool bSign = false;
  // The value, with its sign; held to about +-10^15, far beyond any range
  // a caller asks for, so a longer run of digits still reads as too large.
  long long iValue = 0;
  // Where the digits end (0 when there are none).
  size_t iEnd = 0;
  // The text ends with the digits (blanks after them allowed).
  bool bWhole = false;
};

// The leading decimal integer of sText: leading blanks (isspace), then an
// optional sign, then digits. No digits: bDigits false and the value 0.
NumberText ReadNumberText(const std::string& sText);

// The value held to [iLow, iHigh] (0 when there were no digits, held too).
int ClampedNumber(const NumberText& _Number, int iLow, int iHigh);

// True when digits were found and their value lies in [iLow, iHigh].
bool NumberInRange(const NumberText& _Number, long long iLow, long long iHigh);

// The text as a percentage (a level): a whole number from 0 to 100 with no
// sign and nothing after it (blanks around it allowed); -1 for anything
// else. What a dim command takes and what a device's level is read as.
int PercentNumber(const std::string& sText);

#endif  // VERU_CONSOLE_NUMBER_TEXT_H
