// The names of variables that hold secrets.
#include "console/report/secret_name.h"

#include <cctype>

bool IsSecretName(const std::string& sName) {
  std::string sLower;
  for (char c : sName) sLower += static_cast<char>(tolower(static_cast<unsigned char>(c)));
  // "pass" also finds "password" and "passcode".
  for (const char* sWord : {"pass", "pin", "secret", "token", "key"}) {
    if (sLower.find(sWord) != std::string::npos) return true;
  }
  return false;
}

std::string MaskUrlPassword(const std::string& sURL) {
  size_t iStart = sURL.find("://");
  if (iStart == std::string::npos) return sURL;
  iStart += 3;
  size_t iHostEnd = sURL.find('/', iStart);
  size_t iAt = sURL.rfind('@', iHostEnd == std::string::npos ? std::string::npos : iHostEnd);
  if (iAt == std::string::npos || iAt < iStart) return sURL;
  size_t iColon = sURL.find(':', iStart);
  if (iColon == std::string::npos || iColon > iAt) return sURL;
  return sURL.substr(0, iColon + 1) + kSecretMask + sURL.substr(iAt);
}
