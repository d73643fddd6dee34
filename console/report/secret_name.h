// Whether a variable's name says its value is a secret: it holds
// "password", "pass", "pin", "secret", "token" or "key" in any case, as a
// part of the name ("password", "AuthToken", "api_key", "PIN"). Forms that
// show a home to whoever looks at the screen hide or mask such values; the
// text report and the JSON stream, which a script reads, keep them.
// Threads: a pure function, any thread.
#ifndef VERU_CONSOLE_REPORT_SECRET_NAME_H
#define VERU_CONSOLE_REPORT_SECRET_NAME_H

#include <string>

bool IsSecretName(const std::string& sName);

// What a screen shows in place of a secret value.
constexpr const char* kSecretMask = "***";

// The URL with the password of its user part ("http://user:pw@host/...")
// masked; any other URL as it is.
std::string MaskUrlPassword(const std::string& sURL);

#endif  // VERU_CONSOLE_REPORT_SECRET_NAME_H
