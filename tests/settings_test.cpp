// The setting files: how a value is read back, what SaveSettings writes and
// in which order, and that a save never tears or exposes a file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <vector>

#include "console/setup/settings.h"
#include "tests/front_end_fixture.h"
#include "tests/test_util.h"

namespace {

TEST(LoadSetting, ReadsTheFirstLineAsItIs) {
  ScratchDir _Dir;
  struct Case {
    const char* cName;
    bool bFile;
    std::string sContent;
    std::string sExpected;
  };
  const std::string s999(999, 'a');
  const Case cases[] = {
      {"missing file", false, "", ""},
      {"empty file", true, "", ""},
      {"plain value", true, "L", "L"},
      {"trailing line end kept", true, "L\n", "L\n"},
      {"only the first line", true, "first\nsecond\n", "first\n"},
      {"blanks kept", true, " 12 ", " 12 "},
      {"999 characters", true, s999, s999},
      {"longer value cut to 999", true, s999 + "bcdef", s999},
  };
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.cName);
    unlink("arg_mode");
    if (_Case.bFile) WriteFile("arg_mode", _Case.sContent);
    EXPECT_EQ(_Case.sExpected, LoadSetting("arg_mode"));
  }
}

TEST(LeadingInteger, ReadsTheNumberAtTheStart) {
  struct Case {
    const char* cText;
    int iExpected;
  };
  const Case cases[] = {
      {"30001", 30001}, {"30001\n", 30001}, {" 42abc", 42}, {"-7", -7},
      {"", 0},          {"abc", 0},         {"0", 0},       {"5 on", 5},
      {"99999999999", 2147483647},          {"-99999999999", -2147483647 - 1},
  };
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.cText);
    EXPECT_EQ(_Case.iExpected, LeadingInteger(_Case.cText));
  }
}

TEST(SaveSetting, WritesTheValueWithoutLineEnd) {
  ScratchDir _Dir;
  EXPECT_EQ(0, SaveSetting("arg_ip", "127.0.0.41"));
  EXPECT_EQ("127.0.0.41", ReadFile("arg_ip"));
  EXPECT_EQ(0, SaveSetting("arg_ip", ""));
  EXPECT_TRUE(FileExists("arg_ip"));
  EXPECT_EQ("", ReadFile("arg_ip"));
  // Nothing but the setting itself is left in the folder.
  EXPECT_EQ("arg_ip\n", ListFolder());
}

TEST(SaveSetting, PasswordFileIsForItsOwnerOnly) {
  ScratchDir _Dir;
  mode_t iOldMask = umask(022);
  // An old world-readable password file is replaced by a private one.
  WriteFile("arg_pass", "old");
  chmod("arg_pass", 0644);
  EXPECT_EQ(0, SaveSetting("arg_pass", "s3cret"));
  EXPECT_EQ("s3cret", ReadFile("arg_pass"));
  EXPECT_EQ(0600u, FileMode("arg_pass"));
  // The other settings get the usual mode for new files.
  EXPECT_EQ(0, SaveSetting("arg_username", "alice"));
  EXPECT_EQ(0644u, FileMode("arg_username"));
  umask(iOldMask);
}

// A write that fails half-way (here: the file size limit, as a full disk
// would) leaves the old setting whole and no temporary file behind.
TEST(SaveSetting, FailedWriteLeavesTheOldFileIntact) {
  ScratchDir _Dir;
  WriteFile("arg_pass", "old-secret");
  chmod("arg_pass", 0600);
  struct rlimit _OldLimit;
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &_OldLimit));
  struct rlimit _Limit = _OldLimit;
  _Limit.rlim_cur = 8;
  void (*pOldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &_Limit));
  int iResult = SaveSetting("arg_pass", std::string(100, 'n'));
  setrlimit(RLIMIT_FSIZE, &_OldLimit);
  signal(SIGXFSZ, pOldHandler);

  EXPECT_EQ(-1, iResult);
  EXPECT_EQ("old-secret", ReadFile("arg_pass"));
  EXPECT_EQ(0600u, FileMode("arg_pass"));
  EXPECT_EQ("arg_pass\n", ListFolder());
}

// A setting that cannot be written (here the name is taken by a folder)
// keeps the whole old set: no other file is replaced, nothing is left over.
TEST(SaveSettings, AFileThatCannotBeWrittenKeepsTheOldSet) {
  ScratchDir _Dir;
  ASSERT_EQ(0, mkdir("arg_ip", 0755));
  WriteFile("arg_serialnumber", "100");
  TestFrontEnd _Test;
  _Test.SetLocalUnit("127.0.0.41")->m_iSerialNumber = 30001;
  CapturedOutput _CaptureErrors(CapturedOutput::Stream::kStderr);
  _Test._FrontEnd.SaveSettings(false);
  EXPECT_EQ(-1, SaveSetting("arg_ip", "x"));
  EXPECT_EQ(
      "Could not save the setting file arg_ip: Is a directory\n"
      "Could not save the setting file arg_ip: Is a directory\n",
      _CaptureErrors.Text());
  EXPECT_EQ("100", ReadFile("arg_serialnumber"));
  EXPECT_EQ("arg_ip\narg_serialnumber\n", ListFolder());
}

// A write that fails part-way through the set (here the 7th file meets the
// file size limit, as a full disk would) replaces nothing: the files already
// written to their temporary names are removed and the old set stays.
TEST(SaveSettings, WriteFailingPartWayKeepsTheOldSet) {
  ScratchDir _Dir;
  WriteFile("arg_serialnumber", "100");
  WriteFile("arg_ip", "10.0.0.1");
  TestFrontEnd _Test;
  Veru::Engine* pEngine = _Test.SetLocalUnit("127.0.0.41");
  pEngine->m_iSerialNumber = 30001;
  pEngine->m_sFirmware = std::string(100, 'f');
  struct rlimit _OldLimit;
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &_OldLimit));
  struct rlimit _Limit = _OldLimit;
  _Limit.rlim_cur = 20;
  void (*pOldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &_Limit));
  // The report line itself (the limit cuts it here) is shown by the
  // end-to-end test on a full disk.
  CapturedOutput _CaptureErrors(CapturedOutput::Stream::kStderr);
  _Test._FrontEnd.SaveSettings(false);
  setrlimit(RLIMIT_FSIZE, &_OldLimit);
  signal(SIGXFSZ, pOldHandler);
  _CaptureErrors.Text();

  EXPECT_EQ("100", ReadFile("arg_serialnumber"));
  EXPECT_EQ("10.0.0.1", ReadFile("arg_ip"));
  EXPECT_EQ("arg_ip\narg_serialnumber\n", ListFolder());
}

class SaveSettingsTest : public testing::Test {
 protected:
  SaveSettingsTest() {
    Veru::Engine* pEngine = _Test.SetLocalUnit("127.0.0.41");
    m_pUnit = pEngine;
    pEngine->m_iSerialNumber = 30001;
    pEngine->m_sUsername = "alice";
    pEngine->m_sFwdMain = "127.0.0.42";
    pEngine->m_sFwdBack = "127.0.0.43";
    pEngine->m_sFwdActive = "127.0.0.42:3481";
    pEngine->m_sFirmware = "1.5.408";
    pEngine->m_sPassword = "s3cret";
    pEngine->m_bUsingRemote = true;
    pEngine->m_sMode = "A";
    pEngine->m_bUsingBackup = false;
  }

  // The setting files in the order SaveSettings put them in place.
  std::vector<std::string> SaveAndWatch(bool bSavePassword) {
    std::vector<std::string> vecNames;
    int iNotify = inotify_init1(IN_NONBLOCK);
    EXPECT_GE(iNotify, 0);
    inotify_add_watch(iNotify, ".", IN_MOVED_TO | IN_CLOSE_WRITE);
    _Test._FrontEnd.SaveSettings(bSavePassword);
    alignas(struct inotify_event) char cEvents[16384];
    ssize_t iLength;
    while ((iLength = read(iNotify, cEvents, sizeof(cEvents))) > 0) {
      for (char* p = cEvents; p < cEvents + iLength;) {
        struct inotify_event* pEvent = reinterpret_cast<struct inotify_event*>(p);
        std::string sName = pEvent->len > 0 ? pEvent->name : "";
        if (sName.compare(0, 4, "arg_") == 0 &&
            sName.find(".tmp") == std::string::npos) {
          vecNames.push_back(sName);
        }
        p += sizeof(struct inotify_event) + pEvent->len;
      }
    }
    close(iNotify);
    return vecNames;
  }

  ScratchDir _Dir;
  TestFrontEnd _Test;
  // The current unit, for tests that change a field before saving.
  Veru::Engine* m_pUnit = nullptr;
};

TEST_F(SaveSettingsTest, WritesEveryKeyInOrder) {
  EXPECT_EQ((std::vector<std::string>{
                "arg_serialnumber", "arg_username", "arg_ip", "arg_fwd_main",
                "arg_fwd_back", "arg_fwd_active", "arg_firmware", "arg_pass",
                "arg_usingremote", "arg_mode", "arg_usingbackup"}),
            SaveAndWatch(true));
  struct Expected {
    const char* cKey;
    const char* cValue;
  };
  const Expected expected[] = {
      {"arg_serialnumber", "30001"}, {"arg_username", "alice"},
      {"arg_ip", "127.0.0.41"},      {"arg_fwd_main", "127.0.0.42"},
      {"arg_fwd_back", "127.0.0.43"}, {"arg_fwd_active", "127.0.0.42:3481"},
      {"arg_firmware", "1.5.408"},   {"arg_pass", "s3cret"},
      {"arg_usingremote", "1"},      {"arg_mode", "A"},
      {"arg_usingbackup", "0"},
  };
  for (const Expected& _Expected : expected) {
    SCOPED_TRACE(_Expected.cKey);
    EXPECT_EQ(_Expected.cValue, ReadFile(_Expected.cKey));
  }
  EXPECT_EQ(0600u, FileMode("arg_pass"));
}

TEST_F(SaveSettingsTest, PasswordOnlyOnRequest) {
  WriteFile("arg_pass", "kept");
  std::vector<std::string> vecNames = SaveAndWatch(false);
  EXPECT_EQ(10u, vecNames.size());
  for (const std::string& sName : vecNames) EXPECT_NE("arg_pass", sName);
  EXPECT_EQ("kept", ReadFile("arg_pass"));
}

TEST_F(SaveSettingsTest, ValuesReadBackAsSaved) {
  _Test._FrontEnd.SaveSettings(true);
  EXPECT_EQ(30001, LeadingInteger(LoadSetting("arg_serialnumber").c_str()));
  EXPECT_EQ("127.0.0.42:3481", LoadSetting("arg_fwd_active"));
  EXPECT_EQ("s3cret", LoadSetting("arg_pass"));
  EXPECT_EQ(1, LeadingInteger(LoadSetting("arg_usingremote").c_str()));
}

// Restoring reads every field back into its own place: each flag is set
// opposite to the other, so crossed fields show.
TEST_F(SaveSettingsTest, RestoreReadsBackEveryField) {
  for (bool bUsingRemote : {true, false}) {
    SCOPED_TRACE(bUsingRemote ? "remote" : "backup");
    m_pUnit->m_bUsingRemote = bUsingRemote;
    m_pUnit->m_bUsingBackup = !bUsingRemote;
    _Test._FrontEnd.SaveSettings(true);
    Veru::Engine _Restored;
    RestoreUnitSettings(&_Restored);
    EXPECT_EQ(30001, _Restored.m_iSerialNumber);
    EXPECT_EQ("alice", _Restored.m_sUsername);
    EXPECT_EQ("127.0.0.41", _Restored.m_sIp);
    EXPECT_EQ("127.0.0.42", _Restored.m_sFwdMain);
    EXPECT_EQ("127.0.0.43", _Restored.m_sFwdBack);
    EXPECT_EQ("127.0.0.42:3481", _Restored.m_sFwdActive);
    EXPECT_EQ("1.5.408", _Restored.m_sFirmware);
    EXPECT_EQ("s3cret", _Restored.m_sPassword);
    EXPECT_EQ("A", _Restored.m_sMode);
    EXPECT_EQ(bUsingRemote, _Restored.m_bUsingRemote);
    EXPECT_EQ(!bUsingRemote, _Restored.m_bUsingBackup);
  }
}

}  // namespace

// The poll thread (a reconnect, a serial number learnt) and the console
// thread (the wizard, the password prompt) save at the same moments, each
// after putting its own whole set of values into the unit: every round, the
// files on disk are one whole set, never a mix of the two.
TEST_F(SaveSettingsTest, SavesFromTwoThreadsLeaveOneWholeSet) {
  struct UnitValues {
    int iSerialNumber;
    const char* cText;  // every text field gets this, with its key before it
    bool bFlag;         // m_bUsingRemote; m_bUsingBackup is the opposite
  };
  const UnitValues kSets[2] = {{111, "a", true}, {222, "b", false}};
  const char* const kTextKeys[] = {"arg_username", "arg_ip", "arg_fwd_main",
                                   "arg_fwd_back", "arg_fwd_active",
                                   "arg_firmware", "arg_pass", "arg_mode"};
  FrontEnd* pFrontEnd = &_Test._FrontEnd;
  auto SetAndSave = [pFrontEnd](const UnitValues& _Values) {
    {
      Veru::MutexHolder _Lock(&pFrontEnd->m_Mutex);
      Veru::Engine* pEngine = pFrontEnd->m_pEngine.load();
      pEngine->m_iSerialNumber = _Values.iSerialNumber;
      std::string sText = _Values.cText;
      pEngine->m_sUsername = "arg_username" + sText;
      pEngine->m_sIp = "arg_ip" + sText;
      pEngine->m_sFwdMain = "arg_fwd_main" + sText;
      pEngine->m_sFwdBack = "arg_fwd_back" + sText;
      pEngine->m_sFwdActive = "arg_fwd_active" + sText;
      pEngine->m_sFirmware = "arg_firmware" + sText;
      pEngine->m_sPassword = "arg_pass" + sText;
      pEngine->m_sMode = "arg_mode" + sText;
      pEngine->m_bUsingRemote = _Values.bFlag;
      pEngine->m_bUsingBackup = !_Values.bFlag;
    }
    pFrontEnd->SaveSettings(true);
  };
  int iMixed = 0;
  std::string sFirstMix;
  for (int iRound = 0; iRound < 120; ++iRound) {
    std::atomic<int> iReady{0};
    auto Run = [&](int iSet) {
      ++iReady;
      while (iReady < 2) {
      }
      SetAndSave(kSets[iSet]);
    };
    ScopedThread _Poll([&] { Run(0); });
    ScopedThread _Console([&] { Run(1); });
    _Poll.Join();
    _Console.Join();
    std::string sOnDisk = ReadFile("arg_serialnumber");
    int iSet = sOnDisk == "111" ? 0 : 1;
    const UnitValues& _Expected = kSets[iSet];
    std::string sText = _Expected.cText;
    bool bWhole = sOnDisk == std::to_string(_Expected.iSerialNumber) &&
                  ReadFile("arg_usingremote") == (_Expected.bFlag ? "1" : "0") &&
                  ReadFile("arg_usingbackup") == (_Expected.bFlag ? "0" : "1");
    for (const char* cKey : kTextKeys) {
      bWhole = bWhole && ReadFile(cKey) == cKey + sText;
    }
    if (!bWhole) {
      if (iMixed++ == 0) {
        for (const char* cKey : kTextKeys) sFirstMix += ReadFile(cKey) + " ";
      }
    }
  }
  EXPECT_EQ(0, iMixed) << "first mixed set: " << sFirstMix;
  // No temporary file of a save is left behind.
  EXPECT_EQ(std::string::npos, ListFolder().find(".tmp.")) << ListFolder();
}
