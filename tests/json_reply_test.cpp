// The reply reader every engine reader goes through: what counts as JSON,
// what a member and its text are. The NUL rule is also pinned at each
// reader (status, locator, action and camera tests).
#include <gtest/gtest.h>
#include <json-c/json.h>

#include <string>

#include "engine/json_reply.h"

namespace {

using namespace std::string_literals;

TEST(JsonReply, ParseTellsNullFromNotJson) {
  struct Case {
    const char* sText;
    bool bJSON;
    bool bValue;
  } vecCases[] = {
      {"{\"a\":1}", true, true},
      {"[1]", true, true},
      {"7", true, true},
      {"null", true, false},
      {"nul", false, false},
      {"", false, false},
      {"{\"a\":", false, false},
      {"<html>busy</html>", false, false},
      {"Invalid user/pass", false, false},
  };
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.sText);
    bool bJSON = !_Case.bJSON;
    json_object* p_json_object = Veru::ParseReply(_Case.sText, &bJSON);
    EXPECT_EQ(_Case.bJSON, bJSON);
    EXPECT_EQ(_Case.bValue, p_json_object != nullptr);
    json_object_put(p_json_object);
  }
  // The text ends at its first NUL byte, as the transport's buffer does.
  const std::string sCut = "{\"a\":1}\0garbage"s;
  json_object* p_json_object = Veru::ParseReply(sCut.c_str());
  EXPECT_NE(nullptr, p_json_object);
  json_object_put(p_json_object);
}

TEST(JsonReply, MemberTextsKeepEveryByte) {
  json_object* p_json_object = Veru::ParseReply(
      "{\"s\":\"a\\u0000b\",\"n\":12,\"o\":{\"x\":true},\"z\":null,"
      "\"i\":\"34x\"}");
  ASSERT_NE(nullptr, p_json_object);
  struct Case {
    const char* sKey;
    bool bText;
    std::string sText;
  } vecCases[] = {
      {"s", true, "a\0b"s},
      {"n", true, "12"},
      {"o", true, "{ \"x\": true }"},
      {"z", false, "before"},
      {"absent", false, "before"},
  };
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.sKey);
    std::string sText = "before";
    EXPECT_EQ(_Case.bText,
              Veru::CopyMemberText(p_json_object, _Case.sKey, &sText));
    EXPECT_EQ(_Case.sText, sText);
  }
  int iValue = -5;
  EXPECT_TRUE(Veru::CopyMemberInt(p_json_object, "i", &iValue));
  EXPECT_EQ(34, iValue);
  EXPECT_FALSE(Veru::CopyMemberInt(p_json_object, "z", &iValue));
  EXPECT_EQ(34, iValue);
  // Only an object has members.
  json_object* p_json_array = Veru::ParseReply("[\"s\"]");
  EXPECT_EQ(nullptr, Veru::GetMember(p_json_array, "s"));
  EXPECT_EQ(nullptr, Veru::GetMember(nullptr, "s"));
  json_object_put(p_json_array);
  json_object_put(p_json_object);
}

}  // namespace
