// What the transport costs on top of the fetcher itself: one FetchURL round
// trip to a loopback server, beside a bare wget of the same URL started the
// same way (posix_spawnp, the same arguments, the reply through a temporary
// file read back whole). Both run in alternating rounds in one process, and
// a summary line gives the median of each and their ratio (goal: at most
// 1.05).
//
// Wall-clock time is measured: the work is in the child process, which the
// parent's CPU time does not see.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "engine/transport.h"
#include "sim/sim_server.h"

extern char** environ;

namespace {

const char kHost[] = "127.0.0.15";
const int kRounds = 5;

std::string g_sURL;

// FetchURL prints its progress lines; they go to /dev/null while timing so
// the report stays readable (the printing is still paid for).
class QuietStdout {
 public:
  QuietStdout() {
    fflush(stdout);
    m_iSaved = dup(1);
    int iNull = open("/dev/null", O_WRONLY);
    dup2(iNull, 1);
    close(iNull);
  }
  ~QuietStdout() {
    fflush(stdout);
    dup2(m_iSaved, 1);
    close(m_iSaved);
  }

 private:
  int m_iSaved;
};

void BM_FetchURL(benchmark::State& _State) {
  QuietStdout _Quiet;
  for (auto _ : _State) {
    Veru::DataBlock _DataBlock(true);
    if (Veru::FetchURL(g_sURL, g_sURL, 90, &_DataBlock) != 0) {
      _State.SkipWithError("FetchURL failed");
      break;
    }
    benchmark::DoNotOptimize(_DataBlock.m_pData);
  }
}

// The same work by hand: spawn wget, wait, read the file back, delete it.
bool BareWget(int iNumber) {
  char sFilename[50];
  snprintf(sFilename, sizeof(sFilename), "wget.bare%d.tmp", iNumber);
  const char* argv[] = {"wget", "--no-check-certificate", "--tries=1",
                        "--timeout=90", "-o", "wget.log", "-O", sFilename,
                        g_sURL.c_str(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "wget", nullptr, nullptr,
                   const_cast<char* const*>(argv), environ) != 0)
    return false;
  int iStatus = 0;
  if (waitpid(pid, &iStatus, 0) < 0) return false;
  FILE* pFile = fopen(sFilename, "rb");
  if (pFile == nullptr) return false;
  fseek(pFile, 0, SEEK_END);
  long iLength = ftell(pFile);
  fseek(pFile, 0, SEEK_SET);
  char* pData = static_cast<char*>(malloc(iLength + 1));
  size_t iRead = fread(pData, 1, iLength, pFile);
  pData[iRead] = '\0';
  benchmark::DoNotOptimize(pData);
  free(pData);
  fclose(pFile);
  remove(sFilename);
  return WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 0;
}

void BM_BareWget(benchmark::State& _State) {
  int iNumber = 0;
  for (auto _ : _State) {
    if (!BareWget(iNumber++)) {
      _State.SkipWithError("bare wget failed");
      break;
    }
  }
}

// Prints as usual and keeps each run's wall-clock time per iteration (ms).
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  SummaryReporter() : ConsoleReporter(isatty(1) ? OO_Color : OO_None) {}

  void ReportRuns(const std::vector<Run>& vecRuns) override {
    for (const Run& _Run : vecRuns) {
      if (_Run.error_occurred || _Run.iterations == 0) continue;
      double dMs = _Run.real_accumulated_time * 1e3 /
                   static_cast<double>(_Run.iterations);
      std::string sName = _Run.run_name.function_name;
      m_mapTimes[sName.substr(0, sName.find('/'))].push_back(dMs);
    }
    ConsoleReporter::ReportRuns(vecRuns);
  }

  static double Median(std::vector<double> vecValues) {
    if (vecValues.empty()) return 0;
    std::sort(vecValues.begin(), vecValues.end());
    return vecValues[vecValues.size() / 2];
  }

  std::map<std::string, std::vector<double>> m_mapTimes;
};

// Runs the benchmarks in a scratch folder (the fetches write there).
std::string EnterScratchFolder() {
  char cTemplate[] = "/tmp/veru-bench-XXXXXX";
  if (mkdtemp(cTemplate) == nullptr || chdir(cTemplate) != 0) return "";
  return cTemplate;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::string sFolder = EnterScratchFolder();
  if (sFolder.empty()) return 1;
  Sim::SimServer _Server;
  if (!_Server.Start(kHost, 0)) {
    fprintf(stderr, "cannot listen on %s\n", kHost);
    return 1;
  }
  _Server.SetDefault({200, "{\"devices\": [{\"id\": 12, \"state\": 4}]}", 0,
                      false});
  g_sURL = std::string("http://") + kHost + ":" +
           std::to_string(_Server.Port()) +
           "/data_request?id=lu_sdata&loadtime=0&dataversion=0"
           "&minimumdelay=0&timeout=60";

  // Alternating rounds, so a change of load on the machine hits both alike.
  for (int i = 1; i <= kRounds; ++i) {
    std::string sRound = "/round:" + std::to_string(i);
    benchmark::RegisterBenchmark(("BM_BareWget" + sRound).c_str(), BM_BareWget)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0);
    benchmark::RegisterBenchmark(("BM_FetchURL" + sRound).c_str(), BM_FetchURL)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0);
  }
  SummaryReporter _Reporter;
  benchmark::RunSpecifiedBenchmarks(&_Reporter);
  benchmark::Shutdown();

  double dBare = SummaryReporter::Median(_Reporter.m_mapTimes["BM_BareWget"]);
  double dFetch = SummaryReporter::Median(_Reporter.m_mapTimes["BM_FetchURL"]);
  if (dBare > 0 && dFetch > 0) {
    printf(
        "\nSUMMARY (median of %zu rounds, wall clock per request): "
        "FetchURL %.3f ms, bare wget %.3f ms, ratio %.3f (goal <= 1.05)\n",
        _Reporter.m_mapTimes["BM_FetchURL"].size(), dFetch, dBare,
        dFetch / dBare);
  }
  _Server.Stop();
  remove("wget.log");
  if (chdir("/") == 0) rmdir(sFolder.c_str());
  return 0;
}
