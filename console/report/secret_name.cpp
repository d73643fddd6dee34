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
