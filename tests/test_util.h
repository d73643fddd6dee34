// Small helpers shared by the tests (and, for the header-only parts, the
// benchmarks): scratch folders, a stand-in wget, environment, signal
// settings, captured output and threads for one scope, waits on a
// condition, files, and the test certificate.
#ifndef VERU_TESTS_TEST_UTIL_H
#define VERU_TESTS_TEST_UTIL_H

#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Makes a fresh temporary folder and makes it the working directory (the
// transport and the setting files work there); on destruction goes back and
// removes the folder with everything in it. When the folder cannot be made
// or entered the test fails and the constructor throws, so nothing is ever
// written into the folder the tests were started in.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& Path() const { return m_sPath; }

 private:
  std::string m_sPath;
  std::string m_sOldDir;
};

// Puts a `wget` shell script with the given body first on PATH for its
// lifetime (the script lives in its own temporary folder; the constructor
// fails the test and throws when that cannot be made).
class FakeWget {
 public:
  explicit FakeWget(const std::string& sScriptBody);
  ~FakeWget();
  FakeWget(const FakeWget&) = delete;
  FakeWget& operator=(const FakeWget&) = delete;

 private:
  std::string m_sFolder;
  std::string m_sOldPath;
};

// Sets an environment variable (sValue null: removes it) for its lifetime,
// then puts back what was there. The children of the test inherit it.
class ScopedEnv {
 public:
  ScopedEnv(const char* sName, const char* sValue);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string m_sName;
  std::string m_sOldValue;
  bool m_bWasSet;
};

// Sends standard output to /dev/null for its lifetime (header-only, so a
// benchmark can use it without the rest of this file).
class QuietStdout {
 public:
  QuietStdout() {
    fflush(stdout);
    m_iSaved = dup(STDOUT_FILENO);
    int iNull = open("/dev/null", O_WRONLY);
    dup2(iNull, STDOUT_FILENO);
    close(iNull);
  }
  ~QuietStdout() {
    fflush(stdout);
    dup2(m_iSaved, STDOUT_FILENO);
    close(m_iSaved);
  }
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  int m_iSaved;
};

// Captures the test's standard output (or standard error) for its lifetime
// or until Text() is called, whichever comes first; a failed ASSERT in
// between ends the capture with the scope, so the next test can capture
// again. One capture of each stream at a time.
class CapturedOutput {
 public:
  enum class Stream { kStdout, kStderr };
  explicit CapturedOutput(Stream eStream = Stream::kStdout);
  ~CapturedOutput();
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;
  // Ends the capture and returns what was written; later calls return the
  // same text.
  std::string Text();

 private:
  Stream m_eStream;
  bool m_bCapturing;
  std::string m_sText;
};

// Runs fAction with standard output captured and returns what it printed.
template <class Action>
std::string CaptureStdoutOf(Action fAction) {
  CapturedOutput _Capture;
  fAction();
  return _Capture.Text();
}

// A thread that is joined when it goes out of scope, so a failed ASSERT on
// the test thread never leaves it running (which would end the test binary).
// fUnblock, when given, is run first on that path: it makes fRun return
// (closes what it reads, sets its stop flag).
class ScopedThread {
 public:
  explicit ScopedThread(std::function<void()> fRun,
                        std::function<void()> fUnblock = nullptr)
      : m_fUnblock(std::move(fUnblock)), m_Thread(std::move(fRun)) {}
  ~ScopedThread() {
    if (!m_Thread.joinable()) return;
    if (m_fUnblock) m_fUnblock();
    m_Thread.join();
  }
  ScopedThread(const ScopedThread&) = delete;
  ScopedThread& operator=(const ScopedThread&) = delete;
  // Waits for fRun to return (fUnblock is not run).
  void Join() {
    if (m_Thread.joinable()) m_Thread.join();
  }

 private:
  std::function<void()> m_fUnblock;
  std::thread m_Thread;
};

// Waits until fCondition holds, testing it every few milliseconds, for up
// to iTimeoutMs. True when it held in time.
bool WaitUntil(const std::function<bool()>& fCondition,
               int iTimeoutMs = 15000);

// For its lifetime the test process ignores the signals in vecIgnored and
// the calling thread blocks those in vecBlocked, as a test run started from
// a background job or under nohup does; then the old settings come back.
class ScopedSignalSettings {
 public:
  ScopedSignalSettings(std::initializer_list<int> vecIgnored,
                       std::initializer_list<int> vecBlocked);
  ~ScopedSignalSettings();
  ScopedSignalSettings(const ScopedSignalSettings&) = delete;
  ScopedSignalSettings& operator=(const ScopedSignalSettings&) = delete;

 private:
  std::vector<std::pair<int, struct sigaction>> m_vecOldActions;
  sigset_t m_OldMask;
};

// The folder holding "cert.pem" and "key.pem", a self-signed certificate
// for 127.0.0.1-style hosts, made on first use (it takes longer than a test
// should, so once per test run) and removed when the test binary ends.
class TestCertificate {
 public:
  static const TestCertificate& Get();
  std::string CertFile() const { return m_sFolder + "/cert.pem"; }
  std::string KeyFile() const { return m_sFolder + "/key.pem"; }
  // False when it could not be made; the files are then missing.
  bool Valid() const { return m_bValid; }

 private:
  TestCertificate();
  ~TestCertificate();
  std::string m_sFolder;
  bool m_bValid = false;
};

namespace Sim {
class SimServer;
}

// Starts a plain HTTP server on a "host[:port]" such as a compiled-in locator
// address. Such an address may be held for a moment by a suite of another
// test process: waits up to 10 s for it.
bool StartAt(Sim::SimServer* pServer, const std::string& sHostPort);
// Starts the two locator servers at the compiled-in addresses (see
// StartAt); the main one answers every request with sUnits.
bool StartLocators(Sim::SimServer* pMain, Sim::SimServer* pBackup,
                   const std::string& sUnits);
// Writes the setting files a run leaves for unit 30001 of user alice, in
// the working directory (a failed write fails the test).
void StoreUnitSettings(const std::string& sIp, const std::string& sFwdActive,
                       const std::string& sMode,
                       const std::string& sUsingRemote);
// Writes the setting files of the simulated home's demo unit (serial 45001
// of user demo, forward server 127.0.0.1:3443), reached at sIp locally or
// remotely as bUsingRemote says, in mode sMode, with sPassword saved.
void StoreDemoUnitSettings(const std::string& sIp, bool bUsingRemote,
                           const std::string& sMode,
                           const std::string& sPassword);

std::string ReadFile(const std::string& sPath);
// Writes sText as the whole file; a write that fails fails the test (and
// returns false).
bool WriteFile(const std::string& sPath, const std::string& sText);
bool FileExists(const std::string& sPath);
// The permission bits of a file, or 0 when it does not exist.
mode_t FileMode(const std::string& sPath);
// The entries of a folder (hidden ones too, not "." and ".."), sorted, one a
// line; "(cannot open)" when it cannot be read.
std::string ListFolder(const std::string& sFolder = ".");
// The fetchers (processes named wget) whose working folder is sFolder:
// those a program run in that folder started and that still run.
int FetchersRunningIn(const std::string& sFolder);
// The names of the regular files in the working folder whose contents hold
// sText, sorted, one a line.
std::string FilesHolding(const std::string& sText);
bool EndsWith(const std::string& sText, const std::string& sEnd);
// How often sPart occurs in sText (overlapping occurrences count).
size_t CountOf(const std::string& sText, const std::string& sPart);

#endif  // VERU_TESTS_TEST_UTIL_H
