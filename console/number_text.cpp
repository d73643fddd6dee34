// The reading of a number typed or stored (see number_text.h).
#include "console/number_text.h"

#include <cctype>

namespace {

// Beyond this the value stops growing: it is already too large for every
// caller.
constexpr long long kLargest = 1000000000000000LL;

bool IsSpace(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

NumberText ReadNumberText(const std::string& sText) {
  NumberText _Number;
  size_t i = 0;
  while (i < sText.size() && IsSpace(sText[i])) ++i;
  bool bNegative = false;
  if (i < sText.size() && (sText[i] == '+' || sText[i] == '-')) {
    bNegative = sText[i] == '-';
    _Number.bSign = true;
    ++i;
  }
  size_t iDigits = i;
  long long iValue = 0;
  while (i < sText.size() && isdigit(static_cast<unsigned char>(sText[i]))) {
    if (iValue < kLargest) iValue = iValue * 10 + (sText[i] - '0');
    ++i;
  }
  if (i == iDigits) {
    _Number.bSign = false;
    return _Number;
  }
  _Number.bDigits = true;
  _Number.iValue = bNegative ? -iValue : iValue;
  _Number.iEnd = i;
  while (i < sText.size() && IsSpace(sText[i])) ++i;
  _Number.bWhole = i == sText.size();
  return _Number;
}

int ClampedNumber(const NumberText& _Number, int iLow, int iHigh) {
  if (_Number.iValue < iLow) return iLow;
  if (_Number.iValue > iHigh) return iHigh;
  return static_cast<int>(_Number.iValue);
}

bool NumberInRange(const NumberText& _Number, long long iLow, long long iHigh) {
  return _Number.bDigits && _Number.iValue >= iLow && _Number.iValue <= iHigh;
}

int PercentNumber(const std::string& sText) {
  NumberText _Number = ReadNumberText(sText);
  if (_Number.bSign || !_Number.bWhole || !NumberInRange(_Number, 0, 100)) {
    return -1;
  }
  return static_cast<int>(_Number.iValue);
}
