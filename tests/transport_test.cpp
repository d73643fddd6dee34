// The request transport, through the real wget against our loopback server
// (and a fake wget for the faults a real server cannot make).
#include <gtest/gtest.h>
#include <json-c/json.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/clock.h"
#include "engine/transport.h"
#include "tests/console_process.h"
#include "tests/loopback_fixture.h"
#include "tests/test_util.h"

namespace {

// The local stand-in of the unit listens here on port 3480; the forward
// server on the second address.
const char kUnitIp[] = "127.0.0.10";
const char kForwardHost[] = "127.0.0.11";

const char kUrlX[] = "http://127.0.0.10:3480/x";

const char kPath[] =
    "data_request?id=lu_sdata&loadtime=0&dataversion=0&minimumdelay=0"
    "&timeout=60";

class TransportTest : public LoopbackTest {
 protected:
  // One FetchURL of a fixed URL with the output captured; nothing need
  // listen there when a fake wget stands in.
  int FetchX(Veru::DataBlock* pDataBlock, std::string* pOutput) {
    int iResult = 0;
    *pOutput = CaptureStdoutOf([&] {
      iResult = Veru::FetchURL(kUrlX, kUrlX, 90, pDataBlock);
    });
    return iResult;
  }

  // Starts the unit's stand-in with a default reply and points the current
  // unit at it.
  void StartUnit(const std::string& sBody) {
    ASSERT_TRUE(m_Unit.Start(kUnitIp, 3480));
    m_Unit.SetDefault({200, sBody, 0, false});
    UseLocal(kUnitIp);
  }

  // One Request with the output captured.
  int RunRequest(const std::string& sPath, int iRetryWindow,
                 json_object** pp_json_object, std::string* pOutput) {
    int iResult = -1;
    *pOutput = CaptureStdoutOf([&] {
      iResult = m_pPollLoop->Request(sPath, &m_DataBlock, pp_json_object,
                                   iRetryWindow);
    });
    return iResult;
  }

  std::string BlockText() const {
    return m_DataBlock.m_pData == nullptr ? "(null)"
                                          : std::string(m_DataBlock.m_pData);
  }

  Sim::SimServer m_Unit;
  Veru::DataBlock m_DataBlock{true};
};

TEST_F(TransportTest, LocalAndRemoteURLsArriveAsSent) {
  StartUnit("{\"local\": 1}");
  Sim::SimServer _Forward;
  std::string sFwd = StartForwardServer(&_Forward, kForwardHost);
  ASSERT_FALSE(sFwd.empty());
  _Forward.SetDefault({200, "{\"remote\": 1}", 0, false});

  struct Case {
    bool bRemote;
    std::string sPrinted;
    std::string sTarget;
  } vecCases[] = {
      {false,
       "GET:http://127.0.0.10:3480/" + std::string(kPath) +
           " got: 12 bytes\n",
       "/" + std::string(kPath)},
      {true,
       "GET:https://" + sFwd + "/alice/***/35104321/" + kPath +
           " got: 13 bytes\n",
       "/alice/s3cret/35104321/" + std::string(kPath)},
  };
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.bRemote ? "remote" : "local");
    m_Unit.ClearLog();
    _Forward.ClearLog();
    if (_Case.bRemote) {
      UseRemote(sFwd, "alice", "s3cret", 35104321);
      // Neither of these ever forms a URL.
      m_pEngine->m_sFwdMain = "127.0.0.19:1";
      m_pEngine->m_sFwdBack = "127.0.0.19:2";
    } else {
      UseLocal(kUnitIp);
    }
    json_object* p_json_object = nullptr;
    std::string sOutput;
    EXPECT_EQ(0, RunRequest(kPath, 0, &p_json_object, &sOutput));
    EXPECT_EQ(_Case.sPrinted, sOutput);
    Sim::SimServer& _Server = _Case.bRemote ? _Forward : m_Unit;
    Sim::SimServer& _Other = _Case.bRemote ? m_Unit : _Forward;
    ASSERT_EQ(1u, _Server.Log().size());
    EXPECT_EQ(_Case.sTarget, _Server.Log()[0].sTarget);
    EXPECT_TRUE(_Other.Log().empty());
    ASSERT_NE(nullptr, p_json_object);
    EXPECT_TRUE(json_object_object_get_ex(
        p_json_object, _Case.bRemote ? "remote" : "local", nullptr));
    json_object_put(p_json_object);
  }
}

TEST_F(TransportTest, BaseURLIsFormedAnewForEveryAttempt) {
  StartUnit("");  // empty replies: every local attempt fails
  Sim::SimServer _Forward;
  std::string sFwd = StartForwardServer(&_Forward, kForwardHost);
  ASSERT_FALSE(sFwd.empty());
  _Forward.SetDefault({200, "{}", 0, false});
  // Between the first and the second attempt the unit goes remote.
  FakeClock::SetSleepHook([&](int) { UseRemote(sFwd, "bob", "pw", 7); });
  std::string sOutput;
  EXPECT_EQ(0, RunRequest("data_request?id=x", 60, nullptr, &sOutput));
  EXPECT_EQ(
      "GET:http://127.0.0.10:3480/data_request?id=x got: 0 bytes\n"
      "GET:https://" + sFwd + "/bob/***/7/data_request?id=x got: 2 bytes\n",
      sOutput);
  EXPECT_EQ(1u, m_Unit.Log().size());
  EXPECT_EQ(1u, _Forward.Log().size());
}

// What one reply (or a run of them) makes of a Request.
TEST_F(TransportTest, RepliesDecideTheResult) {
  struct Case {
    const char* sName;
    std::vector<Sim::Reply> vecQueued;  // answered first, in order
    Sim::Reply _Default;
    int iRetryWindow;
    int iResult;
    size_t iAttempts;
    int64_t iSleptMs;
    const char* sBlock;  // text left in the block
    bool bObject;        // a parsed reply is handed back
  } vecCases[] = {
      {"object", {}, {200, "{\"a\": 1}", 0, false}, 0, 0, 1, 0, "{\"a\": 1}",
       true},
      {"null gives 0 and no object", {}, {200, "null", 0, false}, 60, 0, 1, 0,
       "null", false},
      {"not JSON: -1 at once, text kept", {},
       {200, "Invalid user/pass", 0, false}, 60, -1, 1, 0, "Invalid user/pass",
       false},
      {"empty reply retried within the window", {{200, "", 0, false}},
       {200, "{}", 0, false}, 60, 0, 2, 1000, "{}", true},
      {"empty reply, window 0", {}, {200, "", 0, false}, 0, -1, 1, 0, "",
       false},
      {"HTTP error, window 0: one attempt", {}, {500, "", 0, false}, 0, -1, 1,
       0, "", false},
      {"HTTP error then a reply", {{500, "", 0, false}, {404, "", 0, false}},
       {200, "[1]", 0, false}, 60, 0, 3, 2000, "[1]", true},
      {"dropped connection", {}, {200, "", 0, true}, 0, -1, 1, 0, "", false},
  };
  ASSERT_TRUE(m_Unit.Start(kUnitIp, 3480));
  UseLocal(kUnitIp);
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.sName);
    m_Unit.ClearLog();
    m_Unit.SetDefault(_Case._Default);
    for (const Sim::Reply& _Reply : _Case.vecQueued) m_Unit.Queue(_Reply);
    FakeClock::Reset();
    Veru::DataBlock _Fresh(true);
    json_object* p_json_object = nullptr;
    int iResult = -1;
    CaptureStdoutOf([&] {
      iResult = m_pPollLoop->Request("data_request?id=x", &_Fresh,
                                   &p_json_object, _Case.iRetryWindow);
    });
    EXPECT_EQ(_Case.iResult, iResult);
    EXPECT_EQ(_Case.iAttempts, m_Unit.Log().size());
    EXPECT_EQ(_Case.iSleptMs, FakeClock::SleptMs());
    ASSERT_NE(nullptr, _Fresh.m_pData);
    EXPECT_EQ(_Case.sBlock, std::string(_Fresh.m_pData));
    EXPECT_EQ(static_cast<int>(strlen(_Case.sBlock)), _Fresh.m_iSize);
    EXPECT_EQ(_Case.bObject, p_json_object != nullptr);
    if (p_json_object != nullptr) json_object_put(p_json_object);
  }
}

TEST_F(TransportTest, SixtySecondWindowTriesEverySecondThenGivesUp) {
  ASSERT_TRUE(m_Unit.Start(kUnitIp, 3480));
  UseLocal(kUnitIp);
  std::mutex _Mutex;
  std::vector<int64_t> vecSeen;  // fake time of each attempt
  m_Unit.SetHandler([&](const Sim::LoggedRequest&, Sim::Reply* pReply) {
    std::lock_guard<std::mutex> _Lock(_Mutex);
    vecSeen.push_back(Veru::Now() - 1700000000);
    *pReply = {503, "", 0, false};
    return true;
  });
  std::vector<int> vecSleeps;
  FakeClock::SetSleepHook([&](int iMs) { vecSleeps.push_back(iMs); });
  std::string sOutput;
  EXPECT_EQ(-1, RunRequest("data_request?id=x", 60, nullptr, &sOutput));

  std::vector<int64_t> vecExpected;
  for (int i = 0; i <= 60; ++i) vecExpected.push_back(i);
  std::lock_guard<std::mutex> _Lock(_Mutex);
  EXPECT_EQ(vecExpected, vecSeen);
  EXPECT_EQ(std::vector<int>(60, 1000), vecSleeps);
}

TEST_F(TransportTest, ReplyFileIsDeletedAfterReading) {
  StartUnit("{\"a\": 1}");
  int iNumber = Veru::PeekTempFileNumber();
  std::string sOutput;
  EXPECT_EQ(0, RunRequest("data_request?id=x", 0, nullptr, &sOutput));
  EXPECT_EQ(iNumber + 1, Veru::PeekTempFileNumber());
  // Only the fetcher's own log stays.
  EXPECT_EQ("wget.log\n", ListFolder(m_Dir.Path()));
}

// Records every argument and then its standard input, then answers with
// the name of its reply file (as a JSON string), so the reply shows which
// fetch it belongs to.
const char kRecordingWget[] =
    "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$WGET_RECORD\"; done\n"
    "cat >> \"$WGET_RECORD\"\n"
    "out=''; prev=''\n"
    "for a in \"$@\"; do [ \"$prev\" = -O ] && out=\"$a\"; prev=\"$a\"; "
    "done\n"
    "printf '\"%s\"' \"$out\" > \"$out\"\n";

// wget holds standard input, output and error and nothing else of this
// program: a descriptor opened without close-on-exec (a database, a broker's
// socket) must not live on in a fetch that outlasts the program.
TEST_F(TransportTest, FetcherInheritsOnlyTheStandardDescriptors) {
  std::string sRecord = m_Dir.Path() + "/fds.txt";
  ScopedEnv _Record("WGET_RECORD", sRecord.c_str());
  FakeWget _Wget(
      "ls /proc/$$/fd > \"$WGET_RECORD\"\n"
      "out=''; prev=''\n"
      "for a in \"$@\"; do [ \"$prev\" = -O ] && out=\"$a\"; prev=\"$a\"; "
      "done\n"
      "printf '\"ok\"' > \"$out\"\n");
  int iOpen = open("/dev/null", O_RDONLY);  // no O_CLOEXEC, on purpose
  ASSERT_GE(iOpen, 3);
  Veru::DataBlock _DataBlock(true);
  std::string sOutput;
  EXPECT_EQ(0, FetchX(&_DataBlock, &sOutput));
  close(iOpen);
  // The shell's own descriptor for its script may sit at 3 or above, and
  // "ls" opens one of its own: only the test's descriptor must be absent.
  std::set<std::string> setFds;
  std::istringstream _Lines(ReadFile(sRecord));
  for (std::string sLine; std::getline(_Lines, sLine);) setFds.insert(sLine);
  for (const char* sStandard : {"0", "1", "2"}) {
    EXPECT_EQ(1u, setFds.count(sStandard)) << sStandard;
  }
  EXPECT_EQ(0u, setFds.count(std::to_string(iOpen)));
}

// The URL reaches wget on its standard input, never in its arguments, and
// the certificate option follows the environment.
TEST_F(TransportTest, FetcherGetsItsArgumentsInOrder) {
  std::string sRecord = m_Dir.Path() + "/args.txt";
  ScopedEnv _Record("WGET_RECORD", sRecord.c_str());
  FakeWget _Wget(kRecordingWget);
  struct Case {
    const char* sCaFile;
    const char* sInsecure;
    const char* sOption;
  } vecCases[] = {
      {nullptr, nullptr, "--check-certificate"},
      {"", "0", "--check-certificate"},
      {"/etc/veru/ca.pem", nullptr, "--ca-certificate=/etc/veru/ca.pem"},
      {nullptr, "1", "--no-check-certificate"},
      {"/etc/veru/ca.pem", "1", "--no-check-certificate"},
  };
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.sOption);
    ScopedEnv _CaFile("VERU_CA_CERTIFICATE", _Case.sCaFile);
    ScopedEnv _Insecure("VERU_INSECURE_TLS", _Case.sInsecure);
    remove(sRecord.c_str());
    int iNumber = Veru::PeekTempFileNumber();
    Veru::DataBlock _DataBlock(true);
    std::string sOutput = CaptureStdoutOf([&] {
      const char kUrl[] = "http://127.0.0.10:3480/data_request?id=x";
      EXPECT_EQ(0, Veru::FetchURL(kUrl, kUrl, 30, &_DataBlock));
    });
    std::string sFile = "wget." + std::to_string(iNumber) + ".tmp";
    EXPECT_EQ(std::string(_Case.sOption) +
                  "\n--tries=1\n--timeout=30\n-o\nwget.log\n-O\n" + sFile +
                  "\n--input-file=-\nhttp://127.0.0.10:3480/data_request?id=x\n",
              ReadFile(sRecord));
    EXPECT_EQ("GET:http://127.0.0.10:3480/data_request?id=x got: " +
                  std::to_string(sFile.size() + 2) + " bytes\n",
              sOutput);
    EXPECT_EQ("\"" + sFile + "\"", std::string(_DataBlock.m_pData));
    EXPECT_FALSE(FileExists(sFile));
  }

  // A request to the unit gives every attempt 90 seconds.
  remove(sRecord.c_str());
  UseLocal(kUnitIp);
  std::string sFile =
      "wget." + std::to_string(Veru::PeekTempFileNumber()) + ".tmp";
  std::string sOutput;
  EXPECT_EQ(0, RunRequest("data_request?id=x", 0, nullptr, &sOutput));
  EXPECT_EQ(
      "--check-certificate\n--tries=1\n--timeout=90\n-o\nwget.log\n-O\n" +
          sFile + "\n--input-file=-\nhttp://127.0.0.10:3480/data_request?id=x\n",
      ReadFile(sRecord));
}

TEST_F(TransportTest, TwoThreadsNeverShareATemporaryFile) {
  std::string sRecord = m_Dir.Path() + "/args.txt";
  setenv("WGET_RECORD", sRecord.c_str(), 1);
  FakeWget _Wget(kRecordingWget);
  const int kFetchesPerThread = 12;
  int iFirst = Veru::PeekTempFileNumber();
  std::vector<std::string> vecReplies[2];
  auto fFetch = [&](int iThread) {
    for (int i = 0; i < kFetchesPerThread; ++i) {
      Veru::DataBlock _DataBlock(true);
      if (Veru::FetchURL(kUrlX, kUrlX, 5, &_DataBlock) == 0)
        vecReplies[iThread].push_back(_DataBlock.m_pData);
    }
  };
  CaptureStdoutOf([&] {
    ScopedThread _Other([&] { fFetch(1); });
    fFetch(0);
    _Other.Join();
  });
  unsetenv("WGET_RECORD");

  // Every number from the first one on, each exactly once, and every reply
  // read by the fetch that owned its file.
  std::multiset<std::string> setExpected;
  for (int i = 0; i < 2 * kFetchesPerThread; ++i)
    setExpected.insert("\"wget." + std::to_string(iFirst + i) + ".tmp\"");
  std::multiset<std::string> setReplies;
  for (const auto& vecThread : vecReplies) {
    EXPECT_EQ(static_cast<size_t>(kFetchesPerThread), vecThread.size());
    setReplies.insert(vecThread.begin(), vecThread.end());
  }
  EXPECT_EQ(setExpected, setReplies);
  EXPECT_EQ(iFirst + 2 * kFetchesPerThread, Veru::PeekTempFileNumber());
  // Every reply file was deleted.
  EXPECT_EQ("args.txt\nwget.log\n", ListFolder(m_Dir.Path()));
}

// The reply file is made (empty) before wget runs; gone afterwards, it
// cannot be opened.
TEST_F(TransportTest, UnopenableReplyFileFails) {
  struct Case {
    const char* sName;
    const char* sScript;
  } vecCases[] = {
      {"exit 4, no file", "rm -f \"$7\"; exit 4"},
      {"exit 0, no file", "rm -f \"$7\"; exit 0"},
      {"killed by a signal, no file", "rm -f \"$7\"; kill -9 $$"},
  };
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.sName);
    FakeWget _Wget(_Case.sScript);
    Veru::DataBlock _DataBlock(true);
    std::string sOutput;
    int iResult = FetchX(&_DataBlock, &sOutput);
    EXPECT_EQ(-1, iResult);
    EXPECT_EQ("GET:http://127.0.0.10:3480/x FAILED!\n", sOutput);
    EXPECT_EQ(nullptr, _DataBlock.m_pData);
  }
  // Through Request the same: -1, and with window 0 one attempt.
  UseLocal(kUnitIp);
  FakeWget _Wget("rm -f \"$7\"; exit 0");
  std::string sOutput;
  EXPECT_EQ(-1, RunRequest("data_request?id=x", 0, nullptr, &sOutput));
  EXPECT_EQ("GET:http://127.0.0.10:3480/data_request?id=x FAILED!\n",
            sOutput);
}

TEST_F(TransportTest, MissingFetcherFails) {
  const char* sPath = getenv("PATH");
  std::string sOldPath = sPath == nullptr ? "" : sPath;
  setenv("PATH", m_Dir.Path().c_str(), 1);  // holds no wget
  Veru::DataBlock _DataBlock(true);
  std::string sOutput;
  int iResult = FetchX(&_DataBlock, &sOutput);
  setenv("PATH", sOldPath.c_str(), 1);
  EXPECT_EQ(-1, iResult);
  EXPECT_EQ("GET:http://127.0.0.10:3480/x FAILED!\n", sOutput);
  EXPECT_EQ("wget.log\n", ListFolder(m_Dir.Path()));
}

TEST_F(TransportTest, NonZeroExitStillReadsAndDeletesTheFile) {
  FakeWget _Wget(
      "out=''; prev=''\n"
      "for a in \"$@\"; do [ \"$prev\" = -O ] && out=\"$a\"; prev=\"$a\"; "
      "done\n"
      "printf partial > \"$out\"; exit 4");
  Veru::DataBlock _DataBlock(true);
  std::string sOutput;
  int iResult = FetchX(&_DataBlock, &sOutput);
  EXPECT_EQ(4, iResult);
  EXPECT_EQ("GET:http://127.0.0.10:3480/x got: 7 bytes\n", sOutput);
  EXPECT_EQ("partial", std::string(_DataBlock.m_pData));
  EXPECT_EQ("wget.log\n", ListFolder(m_Dir.Path()));
}

// Standard output and standard error go to one file for its lifetime, as
// both go to one terminal: Text() gives what came, in the order it came.
class MergedOutput {
 public:
  MergedOutput() : m_pFile(tmpfile()) {
    fflush(stdout);
    fflush(stderr);
    m_iOldOut = dup(STDOUT_FILENO);
    m_iOldErr = dup(STDERR_FILENO);
    if (m_pFile != nullptr) {
      dup2(fileno(m_pFile), STDOUT_FILENO);
      dup2(fileno(m_pFile), STDERR_FILENO);
    }
  }
  ~MergedOutput() {
    Restore();
    if (m_pFile != nullptr) fclose(m_pFile);
  }
  MergedOutput(const MergedOutput&) = delete;
  MergedOutput& operator=(const MergedOutput&) = delete;

  // Ends the merge and returns what was written.
  std::string Text() {
    Restore();
    std::string sText;
    if (m_pFile == nullptr) return "(no file)";
    rewind(m_pFile);
    for (int c; (c = fgetc(m_pFile)) != EOF;) sText += static_cast<char>(c);
    return sText;
  }

 private:
  void Restore() {
    if (m_iOldOut < 0) return;
    fflush(stdout);
    fflush(stderr);
    dup2(m_iOldOut, STDOUT_FILENO);
    dup2(m_iOldErr, STDERR_FILENO);
    close(m_iOldOut);
    close(m_iOldErr);
    m_iOldOut = m_iOldErr = -1;
  }

  FILE* m_pFile;
  int m_iOldOut;
  int m_iOldErr;
};

// A message about a fetch comes after that fetch's outcome has ended its
// "GET:" line, never inside it.
TEST_F(TransportTest, MessageAboutAFetchFollowsItsLine) {
  std::string sSize = std::to_string(Veru::kReplySizeLimit + 1);
  FakeWget _Wget(
      "out=''; prev=''\n"
      "for a in \"$@\"; do [ \"$prev\" = -O ] && out=\"$a\"; prev=\"$a\"; "
      "done\n"
      "truncate -s " + sSize + " \"$out\"");
  Veru::DataBlock _DataBlock(true);
  MergedOutput _Merged;
  int iResult = Veru::FetchURL(kUrlX, kUrlX, 90, &_DataBlock);
  std::string sText = _Merged.Text();
  EXPECT_EQ(-1, iResult);
  EXPECT_EQ("GET:http://127.0.0.10:3480/x FAILED!\n"
            "veru-console: a reply of " + sSize + " bytes is refused (limit " +
                std::to_string(Veru::kReplySizeLimit) + ")\n",
            sText);
}

TEST_F(TransportTest, ReplyAboveTheSizeLimitIsRefused) {
  // A sparse reply file of the given size, made without writing it.
  struct Case {
    long iSize;
    bool bRead;
  } vecCases[] = {
      {Veru::kReplySizeLimit - 1, true},
      {Veru::kReplySizeLimit, true},
      {Veru::kReplySizeLimit + 1, false},
  };
  for (const Case& _Case : vecCases) {
    std::string sSize = std::to_string(_Case.iSize);
    SCOPED_TRACE(sSize);
    FakeWget _Wget(
        "out=''; prev=''\n"
        "for a in \"$@\"; do [ \"$prev\" = -O ] && out=\"$a\"; prev=\"$a\"; "
        "done\n"
        "truncate -s " + sSize + " \"$out\"");
    Veru::DataBlock _DataBlock(true);
    std::string sOutput;
    CapturedOutput _CaptureErrors(CapturedOutput::Stream::kStderr);
    int iResult = FetchX(&_DataBlock, &sOutput);
    std::string sErrors = _CaptureErrors.Text();
    EXPECT_EQ("wget.log\n", ListFolder(m_Dir.Path()));
    if (_Case.bRead) {
      EXPECT_EQ(0, iResult);
      EXPECT_EQ("GET:http://127.0.0.10:3480/x got: " + sSize + " bytes\n",
                sOutput);
      EXPECT_EQ(_Case.iSize, _DataBlock.m_iSize);
      ASSERT_NE(nullptr, _DataBlock.m_pData);
      EXPECT_EQ('\0', _DataBlock.m_pData[_Case.iSize]);
      EXPECT_EQ("", sErrors);
    } else {
      EXPECT_EQ(-1, iResult);
      EXPECT_EQ("GET:http://127.0.0.10:3480/x FAILED!\n", sOutput);
      EXPECT_EQ(nullptr, _DataBlock.m_pData);
      EXPECT_EQ("veru-console: a reply of 67108865 bytes is refused (limit "
                "67108864)\n",
                sErrors);
    }
  }
}

TEST_F(TransportTest, StaleReplyFileIsNeverRead) {
  FakeWget _Wget("exit 4");  // writes nothing
  std::string sFile =
      "wget." + std::to_string(Veru::PeekTempFileNumber()) + ".tmp";
  WriteFile(sFile, "{\"stale\": true}");
  Veru::DataBlock _DataBlock(true);
  std::string sOutput;
  int iResult = FetchX(&_DataBlock, &sOutput);
  EXPECT_EQ(4, iResult);
  EXPECT_EQ("GET:http://127.0.0.10:3480/x got: 0 bytes\n", sOutput);
  ASSERT_NE(nullptr, _DataBlock.m_pData);
  EXPECT_EQ("", std::string(_DataBlock.m_pData));
  EXPECT_FALSE(FileExists(sFile));
}

TEST_F(TransportTest, PasswordIsSentByteForByteAndRunsNothing) {
  Sim::SimServer _Forward;
  std::string sFwd = StartForwardServer(&_Forward, kForwardHost);
  ASSERT_FALSE(sFwd.empty());
  _Forward.SetDefault({200, "{}", 0, false});
  const std::string sPassword =
      "a\"b c'd;touch owned;$(touch owned)`touch owned`\";touch owned;\"";
  UseRemote(sFwd, "o'neil \"x\"", sPassword, 99);
  std::string sOutput;
  EXPECT_EQ(0, RunRequest("data_request?id=x", 0, nullptr, &sOutput));
  EXPECT_EQ("GET:https://" + sFwd +
                "/o%27neil%20%22x%22/***/99/data_request?id=x got: 2 bytes\n",
            sOutput);
  ASSERT_EQ(1u, _Forward.Log().size());
  EXPECT_EQ("/o'neil \"x\"/" + sPassword + "/99/data_request?id=x",
            _Forward.Log()[0].sDecoded);
  EXPECT_FALSE(FileExists("owned"));
  EXPECT_EQ("wget.log\n", ListFolder(m_Dir.Path()));
}

// Passwords with characters that mean something in a URL reach the forward
// server exactly as typed, encoded on the way; the printed line masks them.
TEST_F(TransportTest, TroublesomePasswordsArriveExactly) {
  Sim::SimServer _Forward;
  std::string sFwd = StartForwardServer(&_Forward, kForwardHost);
  ASSERT_FALSE(sFwd.empty());
  _Forward.SetDefault({200, "{}", 0, false});
  struct Case {
    const char* sPassword;
    const char* sSent;  // the password segment as it goes over the wire
  } vecCases[] = {
      {"a#b", "a%23b"},
      {"p/w?x", "p%2Fw%3Fx"},
      {"100%", "100%25"},
      {"sp ace", "sp%20ace"},
      {"x\";touch owned;\"", "x%22%3Btouch%20owned%3B%22"},
      {"Kl\xc3\xa4ger\xc3\x9f", "Kl%C3%A4ger%C3%9F"},
  };
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.sSent);
    _Forward.ClearLog();
    UseRemote(sFwd, "al ice", _Case.sPassword, 99);
    std::string sOutput;
    EXPECT_EQ(0, RunRequest("data_request?id=x", 0, nullptr, &sOutput));
    EXPECT_EQ("GET:https://" + sFwd +
                  "/al%20ice/***/99/data_request?id=x got: 2 bytes\n",
              sOutput);
    ASSERT_EQ(1u, _Forward.Log().size());
    EXPECT_EQ("/al%20ice/" + std::string(_Case.sSent) + "/99/data_request?id=x",
              _Forward.Log()[0].sTarget);
    EXPECT_EQ("/al ice/" + std::string(_Case.sPassword) +
                  "/99/data_request?id=x",
              _Forward.Log()[0].sDecoded);
  }
  EXPECT_FALSE(FileExists("owned"));
}

// wget keeps the mode of a file that exists: the log and the reply file are
// made for the owner alone before it runs, whatever the umask, and a log
// left readable by an older run is closed up.
TEST_F(TransportTest, LogAndReplyFilesAreMadePrivateFirst) {
  mode_t iOldMask = umask(0);
  WriteFile("wget.log", "old log");
  chmod("wget.log", 0666);
  std::string sRecord = m_Dir.Path() + "/modes.txt";
  ScopedEnv _Record("WGET_RECORD", sRecord.c_str());
  {
    FakeWget _Wget(
        "stat -c %a wget.log \"$7\" >> \"$WGET_RECORD\"; printf x > \"$7\"");
    Veru::DataBlock _DataBlock(true);
    std::string sOutput;
    EXPECT_EQ(0, FetchX(&_DataBlock, &sOutput));
  }
  EXPECT_EQ("600\n600\n", ReadFile(sRecord));
  // The real wget, writing a real log.
  StartUnit("{}");
  remove("wget.log");
  std::string sOutput;
  EXPECT_EQ(0, RunRequest("data_request?id=x", 0, nullptr, &sOutput));
  struct stat _Stat;
  ASSERT_EQ(0, stat("wget.log", &_Stat));
  EXPECT_EQ(0600u, _Stat.st_mode & 0777);
  EXPECT_NE(std::string::npos,
            ReadFile("wget.log").find("127.0.0.10:3480/data_request?id=x"));
  umask(iOldMask);
}

// A forward server whose certificate another authority signed gets nothing:
// wget stops at the handshake and the fetch fails.
TEST_F(TransportTest, CertificateOfAnotherAuthorityIsRefused) {
  Sim::SimServer _Trusted;
  std::string sTrusted = StartForwardServer(&_Trusted, kForwardHost);
  ASSERT_FALSE(sTrusted.empty());
  _Trusted.SetDefault({200, "{}", 0, false});
  ASSERT_EQ(0, mkdir("other", 0700));
  ASSERT_TRUE(Sim::MakeSelfSignedCertificate(m_Dir.Path() + "/other"));
  Sim::SimServer _Other;
  ASSERT_TRUE(_Other.Start("127.0.0.12", 0, "other/cert.pem",
                           "other/key.pem"));
  _Other.SetDefault({200, "{}", 0, false});
  std::string sOther = "127.0.0.12:" + std::to_string(_Other.Port());

  UseRemote(sOther, "alice", "s3cret", 5);
  for (int i = 0; i < 2; ++i) {
    std::string sOutput;
    CapturedOutput _CaptureErrors(CapturedOutput::Stream::kStderr);
    EXPECT_EQ(-1, RunRequest("data_request?id=x", 0, nullptr, &sOutput));
    std::string sErrors = _CaptureErrors.Text();
    EXPECT_EQ("GET:https://" + sOther +
                  "/alice/***/5/data_request?id=x got: 0 bytes\n",
              sOutput);
    // Told once per run (a test before may have been the first).
    if (i == 1) {
      EXPECT_EQ("", sErrors);
    }
  }
  EXPECT_TRUE(_Other.Log().empty());
  EXPECT_NE(std::string::npos, ReadFile("wget.log").find("not trusted"));

  // The same request to the server of the named authority goes through.
  UseRemote(sTrusted, "alice", "s3cret", 5);
  std::string sOutput;
  EXPECT_EQ(0, RunRequest("data_request?id=x", 0, nullptr, &sOutput));
  EXPECT_EQ(1u, _Trusted.Log().size());
}

TEST_F(TransportTest, OverlongURLIsRefusedBeforeAnythingRuns) {
  StartUnit("{}");
  const std::string sBase = "http://127.0.0.10:3480/";
  struct Case {
    size_t iLength;  // of the whole URL
    int iResult;
  } vecCases[] = {{499, 0}, {500, -1}, {2000, -1}};
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.iLength);
    m_Unit.ClearLog();
    std::string sPath =
        "x?" + std::string(_Case.iLength - sBase.size() - 2, 'a');
    int iNumber = Veru::PeekTempFileNumber();
    Veru::DataBlock _DataBlock(true);
    int iResult = 0;
    std::string sOutput = CaptureStdoutOf(
        [&] {
          iResult = Veru::FetchURL(sBase + sPath, sBase + sPath, 90,
                                   &_DataBlock);
        });
    EXPECT_EQ(_Case.iResult, iResult);
    if (_Case.iResult == 0) {
      EXPECT_EQ("GET:" + sBase + sPath + " got: 2 bytes\n", sOutput);
      ASSERT_EQ(1u, m_Unit.Log().size());
      EXPECT_EQ("/" + sPath, m_Unit.Log()[0].sTarget);
    } else {
      EXPECT_EQ("", sOutput);
      EXPECT_TRUE(m_Unit.Log().empty());
      EXPECT_EQ(iNumber, Veru::PeekTempFileNumber());
    }
    // The same through Request, even with a retry window.
    m_Unit.ClearLog();
    EXPECT_EQ(_Case.iResult, RunRequest(sPath, 60, nullptr, &sOutput));
    EXPECT_EQ(_Case.iResult == 0 ? 1u : 0u, m_Unit.Log().size());
  }
}

TEST_F(TransportTest, UnsendableRequestsAreRefused) {
  StartUnit("{}");
  struct Case {
    const char* sName;
    std::string sIp;
    std::string sPath;
  } vecCases[] = {
      {"empty path", kUnitIp, ""},
      {"base URL does not fit", std::string(487, '1'), "x"},
      {"NUL byte in the path", kUnitIp, std::string("a\0b", 3)},
  };
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.sName);
    UseLocal(_Case.sIp);
    int iNumber = Veru::PeekTempFileNumber();
    std::string sOutput;
    EXPECT_EQ(-1, RunRequest(_Case.sPath, 0, nullptr, &sOutput));
    EXPECT_EQ("", sOutput);
    EXPECT_EQ(iNumber, Veru::PeekTempFileNumber());
  }
  EXPECT_TRUE(m_Unit.Log().empty());
  // No current unit at all.
  m_FrontEnd.SetCurrentEngine(nullptr);
  std::string sOutput;
  EXPECT_EQ(-1, RunRequest("data_request?id=x", 0, nullptr, &sOutput));
  EXPECT_EQ("", sOutput);
}

}  // namespace

namespace {

// The counter starts at 0 in each run: the program's first fetch writes
// wget.0.tmp, the next wget.1.tmp. A fake wget on PATH notes the file it is
// given and fails, so the program (on the test clock) fails at once, again
// and again, until its input ends.
TEST(TransportRunTest, FirstFetchOfARunUsesNumberZero) {
  ScratchDir _Dir;
  WriteFile("arg_serialnumber", "45001");
  WriteFile("arg_ip", "127.0.0.12");
  WriteFile("arg_mode", "L");
  FakeWget _Wget("echo \"$7\" >>\"" + _Dir.Path() + "/fetches\"; exit 4");
  ConsoleProcess _Console;
  ASSERT_TRUE(_Console.Start(VERU_CONSOLE_TESTCLOCK_PATH));
  ASSERT_TRUE(_Console.WaitFor("!!!!!!!!!! NO RESPONSE COUNT 3 time 4 "));
  _Console.CloseInput();
  EXPECT_EQ(0, _Console.WaitForExit());
  EXPECT_EQ(0u, ReadFile("fetches").find("wget.0.tmp\nwget.1.tmp\nwget.2.tmp\n"));
}

}  // namespace
