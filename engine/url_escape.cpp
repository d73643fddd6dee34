#include "engine/url_escape.h"

namespace Veru {

namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
         c == '~';
}

}  // namespace

std::string EscapeURLComponent(const std::string& sText) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string sEscaped;
  sEscaped.reserve(sText.size());
  for (char cByte : sText) {
    unsigned char c = static_cast<unsigned char>(cByte);
    if (IsUnreserved(c)) {
      sEscaped += cByte;
    } else {
      sEscaped += '%';
      sEscaped += kHex[c >> 4];
      sEscaped += kHex[c & 0x0f];
    }
  }
  return sEscaped;
}

}  // namespace Veru
