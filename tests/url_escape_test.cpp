// Percent-encoding of user names and passwords.
#include <gtest/gtest.h>

#include <string>

#include "engine/url_escape.h"

namespace {

TEST(UrlEscapeTest, EveryByteOutsideTheUnreservedSetIsEncoded) {
  struct Case {
    std::string sText;
    const char* sExpected;
  } vecCases[] = {
      {"", ""},
      {"demo", "demo"},
      {"AZaz09-._~", "AZaz09-._~"},
      {"a#b", "a%23b"},
      {"p/w?x", "p%2Fw%3Fx"},
      {"100%", "100%25"},
      {"sp ace", "sp%20ace"},
      {"x\";touch owned;\"", "x%22%3Btouch%20owned%3B%22"},
      {"a&b=c+d", "a%26b%3Dc%2Bd"},
      {"@:[]!$'()*,", "%40%3A%5B%5D%21%24%27%28%29%2A%2C"},
      {"gr\xc3\xbc\xc3\x9f", "gr%C3%BC%C3%9F"},  // UTF-8, byte by byte
      {std::string("\x01\x7f\xff", 3), "%01%7F%FF"},
      {std::string("a\0b", 3), "a%00b"},
  };
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.sText);
    EXPECT_EQ(_Case.sExpected, Veru::EscapeURLComponent(_Case.sText));
  }
}

}  // namespace
