// The manual page and the bash completion (doc/): the page renders with
// man-db without a warning, and every option that --help lists is in the
// page and offered by the completion.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/console_process.h"
#include "tests/test_util.h"

namespace {

const std::string kManual = std::string(VERU_SOURCE_DIR) + "/doc/veru-console.1";
const std::string kCompletion =
    std::string(VERU_SOURCE_DIR) + "/doc/veru-console.bash";

// man renders the page at iWidth columns.
ProgramRun Man(const std::vector<std::string>& vecArguments, int iWidth) {
  ScopedEnv _Width("MANWIDTH", std::to_string(iWidth).c_str());
  return RunProgram(vecArguments, "man");
}

// The long and short options --help lists: the words that begin its
// option lines ("  -j, --json ...", "      --history FILE ...").
std::vector<std::string> HelpOptions() {
  ProgramRun _Help = RunProgram({"--help"}, VERU_CONSOLE_PATH);
  std::vector<std::string> vecOptions;
  size_t iStart = 0;
  for (size_t iEnd; (iEnd = _Help.sOutput.find('\n', iStart)) != std::string::npos;
       iStart = iEnd + 1) {
    std::string sLine = _Help.sOutput.substr(iStart, iEnd - iStart);
    // A long option without a short one: "      --history FILE ...".
    if (sLine.compare(0, 8, "      --") == 0) {
      vecOptions.push_back(sLine.substr(6, sLine.find(' ', 6) - 6));
      continue;
    }
    if (sLine.compare(0, 3, "  -") != 0) continue;
    size_t iComma = sLine.find(", --");
    if (iComma == std::string::npos) continue;
    vecOptions.push_back(sLine.substr(2, iComma - 2));
    size_t iLongEnd = sLine.find(' ', iComma + 2);
    vecOptions.push_back(sLine.substr(iComma + 2, iLongEnd - iComma - 2));
  }
  return vecOptions;
}

TEST(ManualTest, PageRendersAndNamesEveryOption) {
  ProgramRun _Checked = Man({"--warnings", "-l", kManual}, 80);
  EXPECT_EQ(0, _Checked.iStatus);
  EXPECT_EQ("", _Checked.sErrors);
  ProgramRun _Page = Man({"-l", kManual}, 200);
  ASSERT_EQ(0, _Page.iStatus);
  const std::string& sPage = _Page.sOutput;
  for (const char* sSection :
       {"\nNAME\n", "\nSYNOPSIS\n", "\nOPTIONS\n", "\nCOMMANDS\n", "\nFILES\n",
        "\nENVIRONMENT\n", "\nEXIT STATUS\n", "\nEXAMPLES\n",
        "VERU_CA_CERTIFICATE=FILE", "VERU_INSECURE_TLS=1", "arg_serialnumber",
        "arg_pass", "N call SERVICE ACTION [NAME=VALUE]..."}) {
    EXPECT_NE(std::string::npos, sPage.find(sSection)) << sSection;
  }
  std::vector<std::string> vecOptions = HelpOptions();
  ASSERT_GE(vecOptions.size(), 10u);
  for (const std::string& sOption : vecOptions) {
    EXPECT_NE(std::string::npos, sPage.find(sOption)) << sOption;
  }
}

TEST(ManualTest, CompletionOffersEveryOption) {
  // What the completion offers after "veru-console WORD".
  auto Offered = [](const std::string& sWords, int iCurrent) {
    ProgramRun _Run = RunProgram(
        {"-c", "source \"" + kCompletion + "\"; COMP_WORDS=(" + sWords +
                   "); COMP_CWORD=" + std::to_string(iCurrent) +
                   "; _veru_console; echo \"${COMPREPLY[*]}\""},
        "bash");
    EXPECT_EQ(0, _Run.iStatus);
    return _Run.sOutput;
  };
  std::string sAll = " " + Offered("veru-console -", 1);
  sAll.back() = ' ';  // the line end
  for (const std::string& sOption : HelpOptions()) {
    EXPECT_NE(std::string::npos, sAll.find(" " + sOption + " "))
        << sOption << " not in:" << sAll;
  }
  EXPECT_EQ("--json\n", Offered("veru-console --j", 1));
  EXPECT_EQ("--do\n", Offered("veru-console --d", 1));
  // A --do LINE is the user's own.
  EXPECT_EQ("\n", Offered("veru-console --do \"\"", 2));
}

}  // namespace
