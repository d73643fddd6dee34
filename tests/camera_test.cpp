// Camera URLs: the still-image URL, the stream URL assembled locally, and the
// stream-port request to the forward server's HTTPS stand-in.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>

#include "engine/reply_readers.h"
#include "engine/transport.h"
#include "tests/loopback_fixture.h"

namespace {

const char kUnitIp[] = "127.0.0.14";
const char kForwardHost[] = "127.0.0.14";

class CameraTest : public LoopbackTest {
 protected:
  // Puts a device with these variables into the model.
  void AddDevice(int iID, const std::map<std::string, std::string>& mapVars) {
    Veru::Device* pDevice = new Veru::Device(iID);
    for (const auto& variable : mapVars) {
      pDevice->m_mapVariables[variable.first] = variable.second;
    }
    m_pPollLoop->m_mapDevice[iID] = pDevice;
  }

  // One GetCameraStreamURL with the output captured; the type starts as
  // "untouched".
  std::string Stream(int iDevice, std::string* pType) {
    *pType = "untouched";
    std::string sURL;
    m_sOutput = CaptureStdoutOf(
        [&] { sURL = m_pPollLoop->GetCameraStreamURL(iDevice, *pType); });
    return sURL;
  }

  // Starts the forward server and makes the connection remote through it.
  void GoRemote(const std::string& sPassword = "pw") {
    m_sFwd = StartForwardServer(&m_Forward, kForwardHost);
    ASSERT_FALSE(m_sFwd.empty());
    UseRemote(m_sFwd, "carol", sPassword, 4242);
  }

  Sim::SimServer m_Forward;
  std::string m_sFwd;
  std::string m_sOutput;
};

TEST_F(CameraTest, LocalStreamURLIsAssembledFromTheCameraVariables) {
  UseLocal(kUnitIp);
  struct Case {
    const char* sName;
    std::map<std::string, std::string> mapVars;
    const char* sURL;
  } vecCases[] = {
      {"no login, leading slash",
       {{"streaming", "/video.cgi?res=1"}, {"ip", "192.168.81.30"}},
       "http://192.168.81.30/video.cgi?res=1"},
      {"no login, no leading slash",
       {{"streaming", "video.cgi?res=1"}, {"ip", "192.168.81.30"}},
       "http://192.168.81.30/video.cgi?res=1"},
      {"login",
       {{"streaming", "/video.cgi"},
        {"ip", "192.168.81.30:8080"},
        {"username", "admin"},
        {"password", "p@ss"}},
       "http://admin:p@ss@192.168.81.30:8080/video.cgi"},
      {"user without password",
       {{"streaming", "video.cgi"}, {"ip", "192.168.81.30"},
        {"username", "admin"}, {"password", ""}},
       "http://192.168.81.30/video.cgi"},
      {"password without user",
       {{"streaming", "/video.cgi"}, {"ip", "192.168.81.30"},
        {"password", "secret"}},
       "http://192.168.81.30/video.cgi"},
      {"no ip", {{"streaming", "/video.cgi"}}, "http:///video.cgi"},
  };
  int iNumber = Veru::PeekTempFileNumber();
  int iID = 1;
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.sName);
    AddDevice(iID, _Case.mapVars);
    std::string sType;
    EXPECT_EQ(_Case.sURL, Stream(iID, &sType));
    EXPECT_EQ("untouched", sType);
    EXPECT_EQ("", m_sOutput);
    ++iID;
  }
  // Nothing was sent.
  EXPECT_EQ(iNumber, Veru::PeekTempFileNumber());
}

TEST_F(CameraTest, DevicesWithoutAStreamGiveTheirType) {
  AddDevice(5, {{"ip", "192.168.81.30"}});
  AddDevice(6, {{"streaming", ""}, {"ip", "192.168.81.30"}});
  GoRemote();
  struct Case {
    const char* sName;
    bool bRemote;
    int iDevice;
    const char* sType;
  } vecCases[] = {
      {"no such device, local", false, 99, "bad_device"},
      {"no such device, remote", true, 99, "bad_device"},
      {"no streaming variable", false, 5, "not_supported"},
      {"empty streaming variable", false, 6, "not_supported"},
      {"empty streaming variable, remote", true, 6, "not_supported"},
  };
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.sName);
    if (_Case.bRemote) {
      UseRemote(m_sFwd, "carol", "pw", 4242);
    } else {
      UseLocal(kUnitIp);
    }
    std::string sType;
    EXPECT_EQ("", Stream(_Case.iDevice, &sType));
    EXPECT_EQ(_Case.sType, sType);
    EXPECT_EQ("", m_sOutput);
  }
  EXPECT_TRUE(m_Forward.Log().empty());
}

TEST_F(CameraTest, RemoteStreamIsAskedOfTheController) {
  // The camera's own address and login play no part remotely.
  AddDevice(7, {{"streaming", "/video.cgi"}, {"username", "admin"},
                {"password", "x"}});
  GoRemote();
  struct Case {
    const char* sName;
    Sim::Reply _Reply;
    const char* sType;
    const char* sURL;
  } vecCases[] = {
      {"status and url",
       {200, "{\"status\": \"ok\", \"url\": \"https://relay.test/s/7\"}", 0,
        false},
       "ok", "https://relay.test/s/7"},
      {"status not a string",
       {200, "{\"status\": 1, \"url\": \"rtsp://cam/7\"}", 0, false}, "1",
       "rtsp://cam/7"},
      {"url only", {200, "{\"url\": \"https://relay.test/s/7\"}", 0, false},
       "failed", ""},
      {"status only", {200, "{\"status\": \"ok\"}", 0, false}, "failed", ""},
      {"url null", {200, "{\"status\": \"ok\", \"url\": null}", 0, false},
       "failed", ""},
      {"not JSON", {200, "Invalid user/pass", 0, false}, "failed", ""},
      {"JSON null", {200, "null", 0, false}, "failed", ""},
      {"empty reply", {200, "", 0, false}, "failed", ""},
      {"HTTP error", {500, "{\"status\": \"ok\", \"url\": \"u\"}", 0, false},
       "failed", ""},
      {"dropped connection", {200, "", 0, true}, "failed", ""},
  };
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.sName);
    m_Forward.ClearLog();
    m_Forward.SetDefault(_Case._Reply);
    std::string sType;
    EXPECT_EQ(_Case.sURL, Stream(7, &sType));
    EXPECT_EQ(_Case.sType, sType);
    // One request, never retried, exactly this one.
    ASSERT_EQ(1u, m_Forward.Log().size());
    EXPECT_EQ("/carol/pw/4242/data_request?id=lu_camera_port&DeviceNum=7",
              m_Forward.Log()[0].sTarget);
  }
  EXPECT_EQ(0, FakeClock::SleptMs());
}

// The controller's texts are kept whole, a NUL byte inside them included.
TEST(CameraPortReply, NulInsideATextIsKept) {
  std::string sType = "before";
  EXPECT_EQ(std::string("rtsp://cam\0/7", 13),
            Veru::ReadCameraPortReply(
                "{\"status\": \"o\\u0000k\", \"url\": \"rtsp://cam\\u0000/7\"}",
                sType));
  EXPECT_EQ(std::string("o\0k", 3), sType);
}

TEST_F(CameraTest, RemoteRequestIsPrintedWithThePasswordMasked) {
  AddDevice(7, {{"streaming", "/video.cgi"}});
  GoRemote();
  m_Forward.SetDefault({200, "{\"status\": \"ok\", \"url\": \"u\"}", 0, false});
  std::string sType;
  EXPECT_EQ("u", Stream(7, &sType));
  EXPECT_EQ("GET:https://" + m_sFwd +
                "/carol/***/4242/data_request?id=lu_camera_port&DeviceNum=7"
                " got: 28 bytes\n",
            m_sOutput);
}

TEST_F(CameraTest, OverlongStreamPortURLFailsWithoutARequest) {
  AddDevice(7, {{"streaming", "/video.cgi"}});
  GoRemote(std::string(480, 'p'));
  int iNumber = Veru::PeekTempFileNumber();
  std::string sType;
  EXPECT_EQ("", Stream(7, &sType));
  EXPECT_EQ("failed", sType);
  EXPECT_EQ("", m_sOutput);
  EXPECT_EQ(iNumber, Veru::PeekTempFileNumber());
  EXPECT_TRUE(m_Forward.Log().empty());
}

TEST_F(CameraTest, ImageURLHasTheFullFormAndTheCurrentTime) {
  int iNumber = Veru::PeekTempFileNumber();
  UseLocal("192.168.81.20");
  // No device is needed.
  EXPECT_EQ(
      "http://192.168.81.20:3480/data_request?id=cam_image&Device_Num=7"
      "&time=1700000000",
      m_pPollLoop->GetCameraImageURL(7));
  FakeClock::Advance(1000);
  EXPECT_EQ(
      "http://192.168.81.20:3480/data_request?id=cam_image&Device_Num=7"
      "&time=1700000001",
      m_pPollLoop->GetCameraImageURL(7));
  UseRemote("fwd1.relay.test", "carol", "pw", 4242);
  EXPECT_EQ(
      "https://fwd1.relay.test/carol/pw/4242/data_request?id=cam_image"
      "&Device_Num=-2&time=1700000001",
      m_pPollLoop->GetCameraImageURL(-2));
  EXPECT_EQ(iNumber, Veru::PeekTempFileNumber());
}

// The poll thread rewrites the camera's variables under the lock while the
// console asks for its stream; the thread checker sees any unguarded read.
TEST_F(CameraTest, StreamLookupCopiesVariablesUnderTheLock) {
  UseLocal(kUnitIp);
  AddDevice(3, {{"streaming", "/a"}, {"ip", "192.168.81.30"}});
  std::atomic<bool> bStop{false};
  ScopedThread _Poller([&] {
    for (int i = 0; !bStop; ++i) {
      Veru::MutexHolder _Lock(&m_FrontEnd.m_Mutex);
      Veru::Device* pDevice = m_pPollLoop->m_mapDevice[3];
      pDevice->m_mapVariables["streaming"] = i % 2 == 0 ? "/b" : "/a";
      pDevice->m_mapVariables["status" + std::to_string(i % 50)] = "1";
    }
  }, [&] { bStop = true; });
  for (int i = 0; i < 300; ++i) {
    std::string sType;
    std::string sURL = m_pPollLoop->GetCameraStreamURL(3, sType);
    EXPECT_TRUE(sURL == "http://192.168.81.30/a" ||
                sURL == "http://192.168.81.30/b")
        << sURL;
  }
  bStop = true;
  _Poller.Join();
}

}  // namespace
