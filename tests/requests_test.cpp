// Every request this client sends, written out in full.
#include <gtest/gtest.h>

#include <string>

#include "engine/requests.h"

namespace {

TEST(RequestsTest, EveryFormatInFull) {
  struct Case {
    const char* sName;
    std::string sText;
    const char* sExpected;
  } vecCases[] = {
      {"local base", Veru::FormatLocalBaseURL("192.168.81.20"),
       "http://192.168.81.20:3480/"},
      {"local base, empty address", Veru::FormatLocalBaseURL(""),
       "http://:3480/"},
      {"remote base",
       Veru::FormatRemoteBaseURL("fwd2.relay.test", "bob", "pa ss;", 35104321),
       "https://fwd2.relay.test/bob/pa%20ss%3B/35104321/"},
      {"remote base, user name and password encoded",
       Veru::FormatRemoteBaseURL("127.0.0.11:4443", "o'neil x", "a#b/c?d%",
                                 7),
       "https://127.0.0.11:4443/o%27neil%20x/a%23b%2Fc%3Fd%25/7/"},
      {"remote base, no serial yet",
       Veru::FormatRemoteBaseURL("127.0.0.11:4443", "", "", 0),
       "https://127.0.0.11:4443///0/"},
      {"status",
       Veru::FormatStatusPath(1700000123, 42, 2000, 60),
       "data_request?id=lu_sdata&loadtime=1700000123&dataversion=42"
       "&minimumdelay=2000&timeout=60"},
      {"first status", Veru::FormatStatusPath(0, 0, 0, 60),
       "data_request?id=lu_sdata&loadtime=0&dataversion=0&minimumdelay=0"
       "&timeout=60"},
      {"action with arguments",
       Veru::FormatActionPath(12, "urn:upnp-org:serviceId:SwitchPower1",
                              "SetTarget", "newTargetValue=1"),
       "data_request?id=lu_action&DeviceNum=12"
       "&serviceId=urn:upnp-org:serviceId:SwitchPower1&action=SetTarget"
       "&output_format=json&newTargetValue=1"},
      {"action without arguments",
       Veru::FormatActionPath(-3, "urn:micasaverde-com:serviceId:HaDevice1",
                              "Poll", ""),
       "data_request?id=lu_action&DeviceNum=-3"
       "&serviceId=urn:micasaverde-com:serviceId:HaDevice1&action=Poll"
       "&output_format=json"},
      {"camera image", Veru::FormatCameraImagePath(7, 1700000000),
       "data_request?id=cam_image&Device_Num=7&time=1700000000"},
      {"camera stream port",
       Veru::FormatCameraPortURL("fwd1.relay.test", "carol", "pw", 4242, 7),
       "https://fwd1.relay.test/carol/pw/4242/"
       "data_request?id=lu_camera_port&DeviceNum=7"},
      {"camera stream port, user name and password encoded",
       Veru::FormatCameraPortURL("fwd1.relay.test", "c&d", "p w#", 4242, 7),
       "https://fwd1.relay.test/c%26d/p%20w%23/4242/"
       "data_request?id=lu_camera_port&DeviceNum=7"},
      {"locator with user",
       Veru::FormatLocatorURL("127.0.0.1:3490", "bob"),
       "http://127.0.0.1:3490/locator_json.php?username=bob"},
      {"locator with a user name holding & # and a space",
       Veru::FormatLocatorURL("127.0.0.1:3490", "bob&x=1#frag ment"),
       "http://127.0.0.1:3490/locator_json.php?username=bob%26x%3D1%23frag%20"
       "ment"},
      {"locator without user", Veru::FormatLocatorURL("127.0.0.1:3490", ""),
       "http://127.0.0.1:3490/locator_json.php"},
  };
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.sName);
    EXPECT_EQ(_Case.sExpected, _Case.sText);
  }
}

// A text that would not fit its 500-byte buffer is refused whole (empty),
// never cut; so is one holding a NUL byte, which "%s" would cut.
TEST(RequestsTest, OverlongOrCutInputsAreRefused) {
  const std::string sLong(500, 'x');
  const std::string sNul("ab\0cd", 5);
  // "http://" + 486 characters + ":3480/" is 499 characters.
  const std::string sIp499(486, '1');
  struct Case {
    const char* sName;
    std::string sText;
    size_t iExpectedLength;  // 0: refused
  } vecCases[] = {
      {"local base, 499 characters", Veru::FormatLocalBaseURL(sIp499), 499},
      {"local base, 500 characters", Veru::FormatLocalBaseURL(sIp499 + "1"),
       0},
      {"local base, NUL", Veru::FormatLocalBaseURL(sNul), 0},
      {"remote base, long password",
       Veru::FormatRemoteBaseURL("h", "u", sLong, 1), 0},
      {"remote base, NUL in password",
       Veru::FormatRemoteBaseURL("h", "u", sNul, 1), 0},
      {"action, long arguments", Veru::FormatActionPath(1, "s", "a", sLong),
       0},
      {"action, long service", Veru::FormatActionPath(1, sLong, "a", ""), 0},
      {"action, NUL in action", Veru::FormatActionPath(1, "s", sNul, ""), 0},
      {"stream port, long host",
       Veru::FormatCameraPortURL(sLong, "u", "p", 1, 2), 0},
      {"stream port, NUL in user name",
       Veru::FormatCameraPortURL("h", sNul, "p", 1, 2), 0},
      {"locator, long user", Veru::FormatLocatorURL("h", sLong), 0},
      {"locator, NUL in user", Veru::FormatLocatorURL("h", sNul), 0},
      // Encoded, 162 spaces take 486 characters: the URL would be 501 long.
      {"remote base, password fits before encoding only",
       Veru::FormatRemoteBaseURL("h", "u", std::string(162, ' '), 1), 0},
      {"remote base, encoded password just fits",
       Veru::FormatRemoteBaseURL("h", "u", std::string(161, ' '), 1), 498},
      {"remote base, host holding a slash",
       Veru::FormatRemoteBaseURL("h/x", "u", "p", 1), 0},
      {"stream port, host holding a slash",
       Veru::FormatCameraPortURL("h/x", "u", "p", 1, 2), 0},
  };
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.sName);
    EXPECT_EQ(_Case.iExpectedLength, _Case.sText.size());
  }
}

// The printed form of a URL hides the second path segment of every HTTPS
// URL, the password of a forward-server URL, and leaves the rest alone.
TEST(RequestsTest, PasswordIsMaskedInForwardServerURLsOnly) {
  struct Case {
    std::string sURL;
    const char* sShown;
  } vecCases[] = {
      {Veru::FormatRemoteBaseURL("127.0.0.1:3443", "demo", "demo", 45001) +
           "data_request?id=lu_sdata&timeout=60",
       "https://127.0.0.1:3443/demo/***/45001/data_request?id=lu_sdata"
       "&timeout=60"},
      {Veru::FormatRemoteBaseURL("fwd", "o'neil", "a#b/c", 7),
       "https://fwd/o%27neil/***/7/"},
      {Veru::FormatRemoteBaseURL("fwd", "u", "", 7), "https://fwd/u/***/7/"},
      {Veru::FormatCameraPortURL("fwd", "demo", "pw", 1, 10),
       "https://fwd/demo/***/1/data_request?id=lu_camera_port&DeviceNum=10"},
      {"http://127.0.0.5:3480/data_request?id=x",
       "http://127.0.0.5:3480/data_request?id=x"},
      {"http://127.0.0.1:3490/locator_json.php?username=a%2Fb",
       "http://127.0.0.1:3490/locator_json.php?username=a%2Fb"},
      {"https://fwd", "https://fwd"},
      {"https://fwd/only", "https://fwd/only"},
      {"https://fwd/u/pass", "https://fwd/u/***"},
  };
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.sURL);
    EXPECT_EQ(_Case.sShown, Veru::MaskPassword(_Case.sURL));
  }
}

// In a log the fetcher wrote, every forward-server URL is masked wherever
// it stands in its line; the rest of the text stays as it was.
TEST(RequestsTest, PasswordsAreMaskedInEveryURLOfALog) {
  struct Case {
    const char* sText;
    const char* sMasked;
  } vecCases[] = {
      {"--2026-12-11 09:20:01--  https://fwd:3443/demo/Pw%231/45001/"
       "data_request?id=lu_sdata\nConnecting to fwd:3443... connected.\n",
       "--2026-12-11 09:20:01--  https://fwd:3443/demo/***/45001/"
       "data_request?id=lu_sdata\nConnecting to fwd:3443... connected.\n"},
      {"https://a/u/p1/1/ and https://b/u/p2/2\n'https://c/u/p3'",
       "https://a/u/***/1/ and https://b/u/***/2\n'https://c/u/***'"},
      {"http://127.0.0.5:3480/data_request?id=x saved [12/12]\n",
       "http://127.0.0.5:3480/data_request?id=x saved [12/12]\n"},
      {"", ""},
      {"https://", "https://"},
  };
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.sText);
    EXPECT_EQ(_Case.sMasked, Veru::MaskPasswords(_Case.sText));
  }
}

}  // namespace
