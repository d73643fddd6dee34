// The locator: which server is asked, and how a unit list becomes records.
#include <gtest/gtest.h>
#include <json-c/json.h>

#include <atomic>
#include <cstring>

#include "engine/transport.h"
#include "sim/home.h"
#include "tests/loopback_fixture.h"

namespace {

class LocatorTest : public LoopbackTest {
 protected:
  // Merges a literal document as if the locator had sent it.
  int Parse(const std::string& sJson, const std::string& sUsername) {
    json_object* p_json_object = json_tokener_parse(sJson.c_str());
    EXPECT_NE(nullptr, p_json_object) << sJson;
    int iResult = m_pPollLoop->ParseUnits(p_json_object, sUsername);
    json_object_put(p_json_object);
    return iResult;
  }

  // The record under iSerial, or null.
  Veru::Engine* Unit(int iSerial) {
    auto it = m_pPollLoop->m_mapEngine.find(iSerial);
    return it == m_pPollLoop->m_mapEngine.end() ? nullptr : it->second;
  }

  // One unit 500 with the given members, in a document.
  int ParseUnit(const std::string& sMembers, const std::string& sUsername) {
    return Parse("{\"units\":[{\"serialNumber\":500," + sMembers + "}]}",
                 sUsername);
  }
};

const char* const kOneUnit =
    "{\"units\":[{\"serialNumber\":\"4711\",\"name\":\"Home\","
    "\"ipAddress\":\"192.168.1.5\",\"active_server\":\"fwd1.example\","
    "\"FirmwareVersion\":\"1.5.408\",\"users\":[\"bob\",\"ann\"],"
    "\"forwardServers\":[{\"hostName\":\"fwd1.example\",\"primary\":true},"
    "{\"hostName\":\"fwd2.example\",\"primary\":false}]}]}";

TEST_F(LocatorTest, ReadsEveryFieldOfAUnit) {
  EXPECT_EQ(0, Parse(kOneUnit, "bob"));
  Veru::Engine* pUnit = Unit(4711);
  ASSERT_NE(nullptr, pUnit);
  EXPECT_EQ(4711, pUnit->m_iSerialNumber);
  EXPECT_EQ("bob", pUnit->m_sUsername);
  EXPECT_EQ("Home", pUnit->m_sName);
  EXPECT_EQ("192.168.1.5", pUnit->m_sIp);
  EXPECT_EQ("fwd1.example", pUnit->m_sFwdActive);
  EXPECT_EQ("1.5.408", pUnit->m_sFirmware);
  EXPECT_EQ("fwd1.example", pUnit->m_sFwdMain);
  EXPECT_EQ("fwd2.example", pUnit->m_sFwdBack);
  EXPECT_EQ(2u, pUnit->m_mapUsers.size());
  EXPECT_TRUE(pUnit->m_bLocalAvailable);
  EXPECT_TRUE(pUnit->m_bRemoteAvailable);
  EXPECT_EQ("", pUnit->m_sPassword);
  EXPECT_FALSE(pUnit->m_bUsingRemote);
}

TEST_F(LocatorTest, MainServerAnswersWithoutTheBackup) {
  StartLocators();
  m_MainLocator.SetDefault(Body(kOneUnit));
  CapturedOutput _Capture;
  EXPECT_EQ(0, m_pPollLoop->Locate("bob"));
  std::string sOut = _Capture.Text();
  EXPECT_EQ("GET:" + MainLocatorURL("?username=bob") + " got: " +
                std::to_string(strlen(kOneUnit)) + " bytes\n",
            sOut);
  ASSERT_EQ(1u, m_MainLocator.Log().size());
  EXPECT_EQ("/locator_json.php?username=bob", m_MainLocator.Log()[0].sTarget);
  EXPECT_TRUE(m_BackupLocator.Log().empty());
  EXPECT_NE(nullptr, Unit(4711));
}

// A user name with characters that mean something in a query arrives whole;
// the units are stored under the name as typed.
TEST_F(LocatorTest, UserNameIsEncodedInTheQuery) {
  StartLocators();
  m_MainLocator.SetDefault(Body(kOneUnit));
  CapturedOutput _Capture;
  EXPECT_EQ(0, m_pPollLoop->Locate("bob&ann #2"));
  std::string sOut = _Capture.Text();
  EXPECT_EQ(0u, sOut.find("GET:" + MainLocatorURL("?username=bob%26ann%20%232") +
                          " got: "))
      << sOut;
  ASSERT_EQ(1u, m_MainLocator.Log().size());
  EXPECT_EQ("/locator_json.php?username=bob%26ann%20%232",
            m_MainLocator.Log()[0].sTarget);
  EXPECT_EQ("bob&ann #2",
            Sim::ParseQuery(m_MainLocator.Log()[0].sTarget)["username"]);
  ASSERT_NE(nullptr, Unit(4711));
  EXPECT_EQ("bob&ann #2", Unit(4711)->m_sUsername);
}

TEST_F(LocatorTest, BackupIsAskedWhenMainGivesNoDocument) {
  struct Case {
    const char* sName;
    bool bMainDown;
    int iStatus;
    const char* sBody;
  };
  const Case kCases[] = {
      {"JSON null", false, 200, "null"},
      {"empty reply", false, 200, ""},
      {"not JSON", false, 200, "<html>busy</html>"},
      {"HTTP error", false, 500, kOneUnit},
      {"nothing listening", true, 200, ""},
  };
  for (const Case& _Case : kCases) {
    SCOPED_TRACE(_Case.sName);
    if (!_Case.bMainDown) {
      ASSERT_TRUE(StartAt(&m_MainLocator, VERU_LOCATOR_MAIN));
    }
    ASSERT_TRUE(StartAt(&m_BackupLocator, VERU_LOCATOR_BACKUP));
    Sim::Reply _Reply = Body(_Case.sBody);
    _Reply.iStatus = _Case.iStatus;
    m_MainLocator.SetDefault(_Reply);
    m_BackupLocator.SetDefault(Body(kOneUnit));
    CapturedOutput _Capture;
    EXPECT_EQ(0, m_pPollLoop->Locate("bob"));
    std::string sOut = _Capture.Text();
    EXPECT_NE(std::string::npos,
              sOut.find("GET:" + BackupLocatorURL("?username=bob")))
        << sOut;
    EXPECT_EQ(_Case.bMainDown ? 0u : 1u, m_MainLocator.Log().size());
    ASSERT_EQ(1u, m_BackupLocator.Log().size());
    EXPECT_EQ("/locator_json.php?username=bob",
              m_BackupLocator.Log()[0].sTarget);
    Veru::Engine* pUnit = Unit(4711);
    EXPECT_NE(nullptr, pUnit);
    m_pPollLoop->m_mapEngine.erase(4711);  // the next case starts afresh
    delete pUnit;
    m_MainLocator.Stop();
    m_BackupLocator.Stop();
    m_MainLocator.ClearLog();
    m_BackupLocator.ClearLog();
  }
}

TEST_F(LocatorTest, EachServerIsAskedOnceWithThirtySeconds) {
  FakeWget _Wget("echo \"$@\" >> wget.args\ncat >> wget.args\nexit 4");
  CapturedOutput _Capture;
  EXPECT_EQ(-1, m_pPollLoop->Locate("bob"));
  _Capture.Text();
  EXPECT_EQ("--check-certificate --tries=1 --timeout=30 -o wget.log -O "
            "wget." + std::to_string(Veru::PeekTempFileNumber() - 2) +
                ".tmp --input-file=-\n" + MainLocatorURL("?username=bob") +
                "\n" +
                "--check-certificate --tries=1 --timeout=30 -o wget.log -O "
                "wget." + std::to_string(Veru::PeekTempFileNumber() - 1) +
                ".tmp --input-file=-\n" + BackupLocatorURL("?username=bob") +
                "\n",
            ReadFile("wget.args"));
}

TEST_F(LocatorTest, NoDocumentFromEitherServerLeavesTheMapAlone) {
  StartLocators();
  m_MainLocator.SetDefault(Body("null"));
  m_BackupLocator.SetDefault(Body("{\"units\": [tru"));
  m_pEngine->m_iSerialNumber = 100;
  ASSERT_EQ(0, Parse("{\"units\":[{\"serialNumber\":200}]}", "bob"));
  Veru::Engine* pOther = Unit(200);
  CapturedOutput _Capture;
  EXPECT_EQ(-1, m_pPollLoop->Locate("bob"));
  _Capture.Text();
  EXPECT_EQ(1u, m_MainLocator.Log().size());
  EXPECT_EQ(1u, m_BackupLocator.Log().size());
  ASSERT_EQ(2u, m_pPollLoop->m_mapEngine.size());
  EXPECT_EQ(pOther, Unit(200));
  EXPECT_EQ(m_pEngine, Unit(100));
}

TEST_F(LocatorTest, DocumentWithoutUnitsIsFinal) {
  const char* const kDocuments[] = {"{\"error\":\"no such user\"}",
                                    "{\"units\":{\"serialNumber\":1}}",
                                    "[{\"units\":[]}]", "\"units\"", "42"};
  m_pEngine->m_iSerialNumber = 100;
  for (const char* sDocument : kDocuments) {
    SCOPED_TRACE(sDocument);
    StartLocators();
    m_MainLocator.SetDefault(Body(sDocument));
    m_BackupLocator.SetDefault(Body(kOneUnit));
    ASSERT_EQ(0, Parse("{\"units\":[{\"serialNumber\":200}]}", "bob"));
    CapturedOutput _Capture;
    EXPECT_EQ(-1, m_pPollLoop->Locate("bob"));
    _Capture.Text();
    EXPECT_EQ(1u, m_MainLocator.Log().size());
    EXPECT_TRUE(m_BackupLocator.Log().empty());
    ASSERT_EQ(1u, m_pPollLoop->m_mapEngine.size());
    EXPECT_EQ(m_pEngine, Unit(100));
    m_MainLocator.Stop();
    m_BackupLocator.Stop();
    m_MainLocator.ClearLog();
    m_BackupLocator.ClearLog();
  }
}

TEST_F(LocatorTest, EmptyUserNameAsksTheBareURL) {
  StartLocators();
  m_MainLocator.SetDefault(Body(
      "{\"units\":[{\"serialNumber\":100,\"users\":[\"\",\"bob\"]},"
      "{\"serialNumber\":200,\"users\":[\"\"]}]}"));
  m_pEngine->m_iSerialNumber = 100;
  m_pEngine->m_sUsername = "bob";
  CapturedOutput _Capture;
  EXPECT_EQ(0, m_pPollLoop->Locate(""));
  _Capture.Text();
  ASSERT_EQ(1u, m_MainLocator.Log().size());
  EXPECT_EQ("/locator_json.php", m_MainLocator.Log()[0].sTarget);
  ASSERT_EQ(2u, m_pPollLoop->m_mapEngine.size());
  for (const auto& entry : m_pPollLoop->m_mapEngine) {
    SCOPED_TRACE(entry.first);
    EXPECT_EQ("", entry.second->m_sUsername);
    EXPECT_FALSE(entry.second->m_bRemoteAvailable);
  }
  EXPECT_EQ(m_pEngine, Unit(100));
}

TEST_F(LocatorTest, MapIsRebuiltAroundTheCurrentUnit) {
  m_pEngine->m_iSerialNumber = 100;
  m_pEngine->m_sName = "old name";
  m_pEngine->m_sIp = "10.0.0.1";
  m_pEngine->m_sPassword = "secret";
  m_pEngine->m_sMode = "A";
  m_pEngine->m_bUsingRemote = true;
  m_pEngine->m_bUsingBackup = true;
  m_pEngine->m_bInvalidUserPass = true;
  const std::string sDocument =
      "{\"units\":[{\"serialNumber\":100,\"name\":\"Home\","
      "\"ipAddress\":\"10.0.0.2\"},{\"serialNumber\":200,\"name\":\"Cabin\"}]}";

  ASSERT_EQ(0, Parse(sDocument, "bob"));
  ASSERT_EQ(2u, m_pPollLoop->m_mapEngine.size());
  EXPECT_EQ(m_pEngine, Unit(100));  // updated in place
  EXPECT_EQ("Home", m_pEngine->m_sName);
  EXPECT_EQ("10.0.0.2", m_pEngine->m_sIp);
  EXPECT_EQ("secret", m_pEngine->m_sPassword);
  EXPECT_EQ("A", m_pEngine->m_sMode);
  EXPECT_TRUE(m_pEngine->m_bUsingRemote);
  EXPECT_TRUE(m_pEngine->m_bUsingBackup);
  EXPECT_TRUE(m_pEngine->m_bInvalidUserPass);
  ASSERT_NE(nullptr, Unit(200));
  Unit(200)->m_sPassword = "mark of the first record";

  // The same reply again: the other unit is a fresh record.
  ASSERT_EQ(0, Parse(sDocument, "bob"));
  EXPECT_EQ(m_pEngine, Unit(100));
  ASSERT_NE(nullptr, Unit(200));
  EXPECT_EQ("", Unit(200)->m_sPassword);
  EXPECT_EQ("Cabin", Unit(200)->m_sName);

  // A reply without the current unit keeps it as it was.
  m_pEngine->m_bLocalAvailable = false;
  ASSERT_EQ(0, Parse("{\"units\":[{\"serialNumber\":300}]}", "ann"));
  ASSERT_EQ(2u, m_pPollLoop->m_mapEngine.size());
  EXPECT_EQ(m_pEngine, Unit(100));
  EXPECT_EQ(nullptr, Unit(200));
  EXPECT_EQ("bob", m_pEngine->m_sUsername);
  EXPECT_EQ("10.0.0.2", m_pEngine->m_sIp);
  EXPECT_FALSE(m_pEngine->m_bLocalAvailable);  // not recomputed
}

TEST_F(LocatorTest, CurrentUnitWithoutSerialNumberStaysUnderZero) {
  ASSERT_EQ(0, Parse("{\"units\":[{\"serialNumber\":0,\"name\":\"x\"}]}",
                     "bob"));
  ASSERT_EQ(1u, m_pPollLoop->m_mapEngine.size());
  EXPECT_EQ(m_pEngine, Unit(0));
  EXPECT_EQ("", m_pEngine->m_sName);
}

TEST_F(LocatorTest, NoCurrentUnitLeavesOnlyListedUnits) {
  m_FrontEnd.m_pEngine = nullptr;
  ASSERT_EQ(0, Parse("{\"units\":[{\"serialNumber\":1},{\"serialNumber\":2}]}",
                     "bob"));
  EXPECT_EQ(2u, m_pPollLoop->m_mapEngine.size());
  EXPECT_EQ(-1, Parse("{}", "bob"));
  EXPECT_TRUE(m_pPollLoop->m_mapEngine.empty());
}

TEST_F(LocatorTest, SerialNumberConversions) {
  struct Case {
    const char* sValue;
    int iKey;  // 0: the unit is skipped
  };
  const Case kCases[] = {
      {"7", 7},       {"\"7\"", 7},  {"\"12abc\"", 12}, {"3.9", 3},
      {"true", 1},    {"0", 0},      {"\"0\"", 0},      {"\"abc\"", 0},
      {"null", 0},    {"false", 0},  {"[5]", 0},        {"{}", 0},
  };
  m_FrontEnd.m_pEngine = nullptr;
  for (const Case& _Case : kCases) {
    SCOPED_TRACE(_Case.sValue);
    ASSERT_EQ(0, Parse(std::string("{\"units\":[{\"serialNumber\":") +
                           _Case.sValue + ",\"name\":\"n\"}]}",
                       "bob"));
    if (_Case.iKey == 0) {
      EXPECT_TRUE(m_pPollLoop->m_mapEngine.empty());
    } else {
      ASSERT_EQ(1u, m_pPollLoop->m_mapEngine.size());
      ASSERT_NE(nullptr, Unit(_Case.iKey));
      EXPECT_EQ(_Case.iKey, Unit(_Case.iKey)->m_iSerialNumber);
    }
  }
  // An absent serial number skips the unit too; a number and its digit
  // string address one record, the later element winning.
  ASSERT_EQ(0, Parse("{\"units\":[{\"name\":\"a\"},{\"serialNumber\":7,"
                     "\"name\":\"b\",\"users\":[\"bob\"]},"
                     "{\"serialNumber\":\"7\",\"name\":\"c\"}]}",
                     "bob"));
  ASSERT_EQ(1u, m_pPollLoop->m_mapEngine.size());
  EXPECT_EQ("c", Unit(7)->m_sName);
  EXPECT_TRUE(Unit(7)->m_bRemoteAvailable);
}

TEST_F(LocatorTest, PrimaryChoosesMainOrBackupForwardServer) {
  struct Case {
    const char* sPrimary;
    bool bMain;
  };
  const Case kCases[] = {
      {"true", true},  {"1", true},      {"2", true},      {"\"1\"", true},
      {"\"7x\"", true}, {"false", false}, {"0", false},     {"\"0\"", false},
      {"\"x\"", false}, {"\"\"", false},  {"0.5", false},
  };
  for (const Case& _Case : kCases) {
    SCOPED_TRACE(_Case.sPrimary);
    ASSERT_EQ(0, ParseUnit(std::string("\"forwardServers\":[{\"hostName\":"
                                       "\"fwd.example\",\"primary\":") +
                               _Case.sPrimary + "}]",
                           "bob"));
    Veru::Engine* pUnit = Unit(500);
    ASSERT_NE(nullptr, pUnit);
    EXPECT_EQ(_Case.bMain ? "fwd.example" : "", pUnit->m_sFwdMain);
    EXPECT_EQ(_Case.bMain ? "" : "fwd.example", pUnit->m_sFwdBack);
  }
}

TEST_F(LocatorTest, ForwardServerElementsNeedHostAndPrimary) {
  ASSERT_EQ(0, ParseUnit(
                   "\"forwardServers\":[{\"hostName\":\"a\",\"primary\":1},"
                   "{\"hostName\":\"b\"},{\"primary\":0},"
                   "{\"hostName\":null,\"primary\":0},"
                   "{\"hostName\":\"c\",\"primary\":null},"
                   "null,7,\"d\",[\"e\",0],"
                   "{\"hostName\":\"f\",\"primary\":1}]",
                   "bob"));
  ASSERT_NE(nullptr, Unit(500));
  EXPECT_EQ("f", Unit(500)->m_sFwdMain);  // the later element wins
  EXPECT_EQ("", Unit(500)->m_sFwdBack);
}

TEST_F(LocatorTest, UsersDecideRemoteAvailability) {
  struct Case {
    const char* sMembers;
    size_t iUsers;
    bool bRemote;
  };
  // The current unit 500 starts with users {bob, ann}.
  const Case kCases[] = {
      {"\"users\":[\"bob\"]", 1, true},
      {"\"users\":[\"ann\"]", 1, false},
      {"\"users\":[]", 0, false},
      {"\"name\":\"no users member\"", 2, true},
      {"\"users\":null", 2, true},
      {"\"users\":\"bob\"", 2, true},
      {"\"users\":[null,\"bob\",null]", 1, true},
      {"\"users\":[12,{\"a\":1}]", 2, false},
  };
  m_pEngine->m_iSerialNumber = 500;
  for (const Case& _Case : kCases) {
    SCOPED_TRACE(_Case.sMembers);
    m_pEngine->m_mapUsers = {{"bob", true}, {"ann", true}};
    ASSERT_EQ(0, ParseUnit(_Case.sMembers, "bob"));
    EXPECT_EQ(m_pEngine, Unit(500));
    EXPECT_EQ(_Case.iUsers, m_pEngine->m_mapUsers.size());
    EXPECT_EQ(_Case.bRemote, m_pEngine->m_bRemoteAvailable);
  }
  EXPECT_EQ(1u, m_pEngine->m_mapUsers.count("12"));
}

TEST_F(LocatorTest, TextsAndLocalAvailability) {
  struct Case {
    const char* sMembers;
    const char* sIp;
    const char* sName;
    bool bLocal;
  };
  // The current unit 500 starts with IP "10.0.0.1" and name "Home".
  const Case kCases[] = {
      {"\"ipAddress\":\"10.0.0.9\"", "10.0.0.9", "Home", true},
      {"\"ipAddress\":\"\"", "", "Home", false},
      {"\"ipAddress\":null,\"name\":null", "10.0.0.1", "Home", true},
      {"\"name\":\"Cabin\"", "10.0.0.1", "Cabin", true},
      {"\"name\":12,\"ipAddress\":false", "false", "12", true},
  };
  m_pEngine->m_iSerialNumber = 500;
  for (const Case& _Case : kCases) {
    SCOPED_TRACE(_Case.sMembers);
    m_pEngine->m_sIp = "10.0.0.1";
    m_pEngine->m_sName = "Home";
    ASSERT_EQ(0, ParseUnit(_Case.sMembers, "bob"));
    EXPECT_EQ(_Case.sIp, m_pEngine->m_sIp);
    EXPECT_EQ(_Case.sName, m_pEngine->m_sName);
    EXPECT_EQ(_Case.bLocal, m_pEngine->m_bLocalAvailable);
  }
}

// The locator's texts are kept whole, a NUL byte inside them included: a
// user "bob" followed by a NUL is another user, and a forward host holding
// one is refused when a URL is formed (requests_test).
TEST_F(LocatorTest, NulInsideATextIsKept) {
  m_pEngine->m_iSerialNumber = 500;
  ASSERT_EQ(0, ParseUnit("\"name\":\"Ca\\u0000bin\",\"ipAddress\":\"10.0.0.9\","
                         "\"users\":[\"bob\\u0000x\"],\"forwardServers\":"
                         "[{\"hostName\":\"f\\u0000w\",\"primary\":1}]",
                         "bob"));
  EXPECT_EQ(std::string("Ca\0bin", 6), m_pEngine->m_sName);
  EXPECT_EQ(std::string("f\0w", 3), m_pEngine->m_sFwdMain);
  ASSERT_EQ(1u, m_pEngine->m_mapUsers.size());
  EXPECT_EQ(std::string("bob\0x", 5), m_pEngine->m_mapUsers.begin()->first);
  EXPECT_FALSE(m_pEngine->m_bRemoteAvailable);
}

TEST_F(LocatorTest, MalformedUnitsAreSkippedOneByOne) {
  m_FrontEnd.m_pEngine = nullptr;
  ASSERT_EQ(0, Parse("{\"units\":[null,5,\"x\",[1],{\"serialNumber\":9,"
                     "\"active_server\":null,\"FirmwareVersion\":null},"
                     "true]}",
                     "bob"));
  ASSERT_EQ(1u, m_pPollLoop->m_mapEngine.size());
  ASSERT_NE(nullptr, Unit(9));
  EXPECT_EQ("", Unit(9)->m_sFwdActive);
  EXPECT_EQ("", Unit(9)->m_sFirmware);
}

// The poll thread re-locates while the console thread reads the current
// unit: the rebuild must hold the model mutex (ThreadSanitizer checks).
TEST_F(LocatorTest, RebuildRunsUnderTheModelMutex) {
  StartLocators();
  m_MainLocator.SetDefault(Body(kOneUnit));
  m_pEngine->m_iSerialNumber = 4711;
  std::atomic<bool> bDone{false};
  CapturedOutput _Capture;
  ScopedThread _Locator([&] {
    for (int i = 0; i < 3; ++i) EXPECT_EQ(0, m_pPollLoop->Locate("bob"));
    bDone = true;
  });
  Veru::Engine _Copy;
  EXPECT_TRUE(WaitUntil([&] {
    EXPECT_TRUE(m_pPollLoop->CopyEngine(&_Copy));
    return bDone.load();
  }));
  _Locator.Join();
  _Capture.Text();
  EXPECT_EQ("Home", m_pEngine->m_sName);
  EXPECT_EQ(3u, m_MainLocator.Log().size());
}

}  // namespace
