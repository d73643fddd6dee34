// Small helpers shared by the tests.
#ifndef VERU_TESTS_TEST_UTIL_H
#define VERU_TESTS_TEST_UTIL_H

#include <string>

// Makes a fresh temporary folder and makes it the working directory (the
// transport and the setting files work there); on destruction goes back and
// removes the folder with everything in it.
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
// lifetime (the script lives in its own temporary folder).
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

namespace Sim {
class SimServer;
}

// Starts a plain HTTP server on a "host[:port]" such as a compiled-in locator
// address. Such an address may be held for a moment by a suite of another
// test process: waits up to 10 s for it.
bool StartAt(Sim::SimServer* pServer, const std::string& sHostPort);

std::string ReadFile(const std::string& sPath);
void WriteFile(const std::string& sPath, const std::string& sText);
bool FileExists(const std::string& sPath);

#endif  // VERU_TESTS_TEST_UTIL_H
