// Device actions, through the real wget against the unit's loopback stand-in.
#include <gtest/gtest.h>

#include <string>

#include "engine/transport.h"
#include "tests/loopback_fixture.h"

namespace {

const char kUnitIp[] = "127.0.0.13";
const char kSwitchService[] = "urn:upnp-org:serviceId:SwitchPower1";

class ActionsTest : public LoopbackTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_Unit.Start(kUnitIp, 3480));
    UseLocal(kUnitIp);
  }

  // One RunAction with the output captured; the message starts as
  // "untouched".
  int Run(int iDevice, const std::string& sAction,
          const std::string& sArguments, int iRetryWindow,
          std::string* pMessage) {
    *pMessage = "untouched";
    int iResult = 0;
    m_sOutput = CaptureStdoutOf([&] {
      iResult = m_pPollLoop->RunAction(iDevice, kSwitchService, sAction,
                                     sArguments, iRetryWindow, *pMessage);
    });
    return iResult;
  }

  Sim::SimServer m_Unit;
  std::string m_sOutput;
};

TEST_F(ActionsTest, ReplyDecidesTheResult) {
  struct Case {
    const char* sName;
    const char* sReply;
    int iResult;
    const char* sMessage;
  } vecCases[] = {
      {"done", "{\"u:SetTargetResponse\": {\"OK\": \"OK\"}}", 0, "untouched"},
      {"job as number", "{\"u:SetTargetResponse\": {\"JobID\": 17}}", 17,
       "untouched"},
      {"job as digit string", "{\"u:SetTargetResponse\": {\"JobID\": \"17\"}}",
       17, "untouched"},
      {"job not a number", "{\"r\": {\"JobID\": \"none\"}}", -1,
       "untouched"},
      {"job null", "{\"u:SetTargetResponse\": {\"JobID\": null}}", -1,
       "untouched"},
      {"job a boolean", "{\"r\": {\"JobID\": true}}", -1, "untouched"},
      {"job text that begins with a number", "{\"r\": {\"JobID\": \"23a\"}}",
       23, "untouched"},
      {"job zero", "{\"r\": {\"JobID\": 0}}", 0, "untouched"},
      {"error text", "ERROR: Device not found\n", -1, " Device not found\n"},
      {"error mark alone", "ERROR:", -1, ""},
      {"error in lower case is no error", "error: Device not found", -1,
       "untouched"},
      {"first deciding response wins: job",
       "{\"a\": {\"Status\": 1}, \"b\": {\"JobID\": 5},"
       " \"c\": {\"OK\": \"OK\"}}",
       5, "untouched"},
      {"first deciding response wins: done",
       "{\"a\": {\"OK\": \"OK\"}, \"b\": {\"JobID\": 5}}", 0, "untouched"},
      {"done beside a job", "{\"r\": {\"JobID\": 8, \"OK\": \"OK\"}}", 0,
       "untouched"},
      {"members that are not objects are passed over",
       "{\"OK\": \"OK\", \"JobID\": 9, \"x\": [1], \"r\": {\"JobID\": 4}}", 4,
       "untouched"},
      {"only members that are not objects",
       "{\"OK\": \"OK\", \"JobID\": 9}", -1, "untouched"},
      {"OK with other text, then its JobID",
       "{\"r\": {\"OK\": \"ok\", \"JobID\": 8}}", 8, "untouched"},
      {"OK null, then its JobID", "{\"r\": {\"OK\": null, \"JobID\": 3}}", 3,
       "untouched"},
      {"OK with other text, no JobID", "{\"r\": {\"OK\": \"OK \"}}", -1,
       "untouched"},
      {"OK with a NUL byte after it is other text",
       "{\"r\": {\"OK\": \"OK\\u0000\"}}", -1, "untouched"},
      {"not JSON", "<html>busy</html>", -1, "untouched"},
      {"JSON null", "null", -1, "untouched"},
      {"no deciding response", "{\"r\": {\"Status\": \"1\"}}", -1,
       "untouched"},
      {"empty object", "{}", -1, "untouched"},
      {"array at the top", "[{\"OK\": \"OK\"}]", -1, "untouched"},
  };
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.sName);
    m_Unit.ClearLog();
    m_Unit.SetDefault({200, _Case.sReply, 0, false});
    FakeClock::Reset();
    std::string sMessage;
    // Even with a window, a received reply ends the call.
    EXPECT_EQ(_Case.iResult, Run(12, "SetTarget", "newTargetValue=1", 60,
                                 &sMessage));
    EXPECT_EQ(_Case.sMessage, sMessage);
    EXPECT_EQ(1u, m_Unit.Log().size());
    EXPECT_EQ(0, FakeClock::SleptMs());
  }
}

TEST_F(ActionsTest, RequestPathArrivesAsSent) {
  m_Unit.SetDefault({200, "{\"r\": {\"OK\": \"OK\"}}", 0, false});
  struct Case {
    const char* sAction;
    const char* sArguments;
    const char* sTarget;
  } vecCases[] = {
      {"SetTarget", "newTargetValue=0",
       "/data_request?id=lu_action&DeviceNum=12"
       "&serviceId=urn:upnp-org:serviceId:SwitchPower1&action=SetTarget"
       "&output_format=json&newTargetValue=0"},
      {"Poll", "",
       "/data_request?id=lu_action&DeviceNum=12"
       "&serviceId=urn:upnp-org:serviceId:SwitchPower1&action=Poll"
       "&output_format=json"},
  };
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.sAction);
    m_Unit.ClearLog();
    std::string sMessage;
    EXPECT_EQ(0, Run(12, _Case.sAction, _Case.sArguments, 60, &sMessage));
    ASSERT_EQ(1u, m_Unit.Log().size());
    EXPECT_EQ(_Case.sTarget, m_Unit.Log()[0].sTarget);
    EXPECT_EQ("GET:http://127.0.0.13:3480" + std::string(_Case.sTarget) +
                  " got: 19 bytes\n",
              m_sOutput);
  }
}

TEST_F(ActionsTest, NoReplyWithinTheWindowFails) {
  m_Unit.SetDefault({500, "", 0, false});
  std::string sMessage;
  EXPECT_EQ(-1, Run(12, "SetTarget", "newTargetValue=1", 2, &sMessage));
  EXPECT_EQ("untouched", sMessage);
  EXPECT_EQ(3u, m_Unit.Log().size());
  EXPECT_EQ(2000, FakeClock::SleptMs());
}

TEST_F(ActionsTest, OverlongRequestIsNotSent) {
  int iNumber = Veru::PeekTempFileNumber();
  std::string sMessage;
  EXPECT_EQ(-1, Run(12, "SetTarget", "v=" + std::string(500, '1'), 60,
                    &sMessage));
  EXPECT_EQ("untouched", sMessage);
  EXPECT_EQ("", m_sOutput);
  EXPECT_EQ(iNumber, Veru::PeekTempFileNumber());
  EXPECT_TRUE(m_Unit.Log().empty());
  EXPECT_EQ(0, FakeClock::SleptMs());
}

}  // namespace
