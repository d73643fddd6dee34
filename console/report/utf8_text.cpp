#include "console/report/utf8_text.h"

namespace {

constexpr char kReplacement[] = "\xef\xbf\xbd";  // U+FFFD

// The length of the well-formed sequence at the start of sText (1 to 4), or
// 0 when it is ill-formed; *pBad is then the length of its maximal
// ill-formed part (at least 1).
size_t SequenceLength(std::string_view sText, size_t* pBad) {
  unsigned char c = static_cast<unsigned char>(sText[0]);
  if (c < 0x80) return 1;
  size_t iNeed = 0;
  unsigned char cLow = 0x80;
  unsigned char cHigh = 0xbf;
  if (c >= 0xc2 && c <= 0xdf) {
    iNeed = 1;
  } else if (c == 0xe0) {
    iNeed = 2;
    cLow = 0xa0;
  } else if (c == 0xed) {
    iNeed = 2;
    cHigh = 0x9f;
  } else if (c >= 0xe1 && c <= 0xef) {
    iNeed = 2;
  } else if (c == 0xf0) {
    iNeed = 3;
    cLow = 0x90;
  } else if (c >= 0xf1 && c <= 0xf3) {
    iNeed = 3;
  } else if (c == 0xf4) {
    iNeed = 3;
    cHigh = 0x8f;
  } else {
    *pBad = 1;
    return 0;
  }
  size_t i = 1;
  for (; i <= iNeed && i < sText.size(); ++i) {
    unsigned char cNext = static_cast<unsigned char>(sText[i]);
    if (cNext < cLow || cNext > cHigh) break;
    cLow = 0x80;
    cHigh = 0xbf;
  }
  if (i == iNeed + 1) return i;
  *pBad = i;
  return 0;
}

}  // namespace

std::string ValidUtf8(std::string_view sText) {
  std::string sOut;
  // Runs of well-formed text are appended whole.
  size_t iStart = 0;
  size_t i = 0;
  while (i < sText.size()) {
    size_t iBad = 0;
    size_t iLength = SequenceLength(sText.substr(i), &iBad);
    if (iLength != 0) {
      i += iLength;
      continue;
    }
    sOut.append(sText.data() + iStart, i - iStart);
    sOut.append(kReplacement);
    i += iBad;
    iStart = i;
  }
  sOut.append(sText.data() + iStart, sText.size() - iStart);
  return sOut;
}
