#include "engine/terminal_text.h"

namespace Veru {

namespace {

bool IsControlByte(unsigned char c) { return c < 0x20 || c == 0x7f; }

void AppendEscape(std::string* pOut, unsigned char c) {
  switch (c) {
    case '\t':
      pOut->append("\\t");
      return;
    case '\n':
      pOut->append("\\n");
      return;
    case '\r':
      pOut->append("\\r");
      return;
  }
  static const char kHexDigits[] = "0123456789abcdef";
  const char cEscape[4] = {'\\', 'x', kHexDigits[c >> 4], kHexDigits[c & 0xf]};
  pOut->append(cEscape, sizeof(cEscape));
}

}  // namespace

void AppendEscaped(std::string* pOut, std::string_view sText) {
  // Runs of ordinary bytes are appended whole: texts without a control byte,
  // nearly all of them, cost one scan and one append.
  size_t iStart = 0;
  for (size_t i = 0; i < sText.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(sText[i]);
    if (!IsControlByte(c)) continue;
    pOut->append(sText.data() + iStart, i - iStart);
    AppendEscape(pOut, c);
    iStart = i + 1;
  }
  pOut->append(sText.data() + iStart, sText.size() - iStart);
}

std::string EscapeControlBytes(std::string_view sText) {
  std::string sOut;
  sOut.reserve(sText.size());
  AppendEscaped(&sOut, sText);
  return sOut;
}

}  // namespace Veru
