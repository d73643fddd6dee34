// Cost of merging status replies, against the cost of parsing them.
//
// Synthetic full replies of 100, 1,000 and 10,000 devices (20 variables
// each, plus rooms, scenes, sections and categories) are measured three ways:
//   BM_Parse          json_tokener_parse of the text alone (the floor of the
//                     parse; the release is left out of the timing);
//   BM_ParseRelease   json_tokener_parse + json_object_put: what any client
//                     built on json-c pays for one reply before merging;
//   BM_ParseAndMerge  json_tokener_parse + ParseStatus (merge, full-data
//                     printing to /dev/null, release of the tree);
//   BM_Partial        a partial reply of 100 changed devices, parsed and
//                     merged into the 10,000-device model (block printing to
//                     /dev/null).
// Each is run five times and the least time kept. After the runs it prints
// the ratios per size, the partial updates per second, and the peak memory
// of the 10,000-device model next to the size of its reply (measured first,
// before any benchmark has run).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <json-c/json.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/least_time.h"
#include "bench/synthetic_replies.h"
#include "console/front_end.h"
#include "engine/poll_loop.h"
#include "tests/test_util.h"
#include "tests/wired_front_end.h"

namespace {

using SyntheticReplies::FullReply;
using SyntheticReplies::PartialReply;

const std::string& CachedFullReply(int iDevices) {
  static std::map<int, std::string> s_mapReplies;
  auto it = s_mapReplies.find(iDevices);
  if (it == s_mapReplies.end()) {
    it = s_mapReplies.emplace(iDevices, FullReply(iDevices)).first;
  }
  return it->second;
}

// A wired front end with a current unit, as the program has them while
// polling.
struct Model {
  Model() {
    m_Engine.m_iSerialNumber = 35000001;  // nothing to learn, nothing saved
  }
  WiredFrontEnd m_Wired;
  FrontEnd& m_FrontEnd = m_Wired.m_FrontEnd;
  Veru::Engine& m_Engine = *m_Wired.NewUnit();
  Veru::PollLoop& m_PollLoop = *m_Wired.PollLoop();
};

void BM_Parse(benchmark::State& state) {
  const std::string& sReply = CachedFullReply(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    json_object* p_json_object = json_tokener_parse(sReply.c_str());
    benchmark::DoNotOptimize(p_json_object);
    state.PauseTiming();
    json_object_put(p_json_object);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * sReply.size());
}

void BM_ParseRelease(benchmark::State& state) {
  const std::string& sReply = CachedFullReply(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    json_object* p_json_object = json_tokener_parse(sReply.c_str());
    benchmark::DoNotOptimize(p_json_object);
    json_object_put(p_json_object);
  }
  state.SetBytesProcessed(state.iterations() * sReply.size());
}

void BM_ParseAndMerge(benchmark::State& state) {
  const std::string& sReply = CachedFullReply(static_cast<int>(state.range(0)));
  Model _Model;
  {
    QuietStdout _Quiet;
    for (auto _ : state) {
      _Model.m_PollLoop.ParseStatus(json_tokener_parse(sReply.c_str()));
    }
  }
  state.SetBytesProcessed(state.iterations() * sReply.size());
}

void BM_Partial(benchmark::State& state) {
  const std::string aPartial[2] = {PartialReply(1), PartialReply(2)};
  Model _Model;
  QuietStdout _Quiet;
  _Model.m_PollLoop.ParseStatus(json_tokener_parse(CachedFullReply(10000).c_str()));
  int iNext = 0;
  for (auto _ : state) {
    _Model.m_PollLoop.ParseStatus(json_tokener_parse(aPartial[iNext].c_str()));
    iNext ^= 1;
  }
  state.SetItemsProcessed(state.iterations() * 100);
}

void Repeated(benchmark::internal::Benchmark* pBenchmark) {
  RepeatedIn(pBenchmark, benchmark::kMillisecond);
}

BENCHMARK(BM_Parse)->Arg(100)->Arg(1000)->Arg(10000)->Apply(Repeated);
BENCHMARK(BM_ParseRelease)->Arg(100)->Arg(1000)->Arg(10000)->Apply(Repeated);
BENCHMARK(BM_ParseAndMerge)->Arg(100)->Arg(1000)->Arg(10000)->Apply(Repeated);
BENCHMARK(BM_Partial)->Apply(Repeated);

long ProcStatusKb(const char* sField) {
  FILE* pFile = fopen("/proc/self/status", "r");
  if (pFile == nullptr) return -1;
  char cLine[256];
  long iValue = -1;
  size_t iLength = strlen(sField);
  while (fgets(cLine, sizeof(cLine), pFile) != nullptr) {
    if (strncmp(cLine, sField, iLength) == 0) iValue = atol(cLine + iLength + 1);
  }
  fclose(pFile);
  return iValue;
}

// Peak memory of the 10,000-device model, measured before anything else has
// grown the process.
void PrintModelMemory() {
  const std::string& sReply = CachedFullReply(10000);
  long iBaseKb = ProcStatusKb("VmRSS");
  size_t iBaseHeap = mallinfo2().uordblks;
  Model* pModel = new Model;
  json_object* p_json_object = json_tokener_parse(sReply.c_str());
  size_t iTreeHeap = mallinfo2().uordblks - iBaseHeap;
  {
    QuietStdout _Quiet;
    pModel->m_PollLoop.ParseStatus(p_json_object);
  }
  size_t iModelHeap = mallinfo2().uordblks - iBaseHeap;
  printf("10,000-device reply: %zu bytes (%.1f MB); parsed json-c tree %.1f MB "
         "on the heap; model after the merge (tree released) %.1f MB on the "
         "heap; process VmRSS before %.1f MB, peak VmHWM %.1f MB\n",
         sReply.size(), sReply.size() / 1048576.0, iTreeHeap / 1048576.0,
         iModelHeap / 1048576.0, iBaseKb / 1024.0,
         ProcStatusKb("VmHWM") / 1024.0);
  delete pModel;
}

void PrintRatios(const LeastTimeCollector& _Collector) {
  auto Seconds = [&](const std::string& sName) {
    return _Collector.Seconds(sName);
  };
  printf("\n(1) parse, (1r) parse + release, (2) parse + ParseStatus "
         "(merge, printing to /dev/null, release); goal (2)/(1) <= 1.5\n");
  printf("devices  (1) ms  (1r) ms  (2) ms  (2)/(1)  (2)/(1r)  "
         "((2)-(1))/(1)\n");
  for (int iSize : {100, 1000, 10000}) {
    std::string sSize = std::to_string(iSize);
    double fParse = Seconds("BM_Parse/" + sSize);
    double fRelease = Seconds("BM_ParseRelease/" + sSize);
    double fBoth = Seconds("BM_ParseAndMerge/" + sSize);
    if (fParse <= 0 || fRelease <= 0) continue;
    printf("%-7d %7.3f %8.3f %7.3f %8.2f %9.2f %14.2f\n", iSize,
           fParse * 1e3, fRelease * 1e3, fBoth * 1e3, fBoth / fParse,
           fBoth / fRelease, (fBoth - fParse) / fParse);
  }
  double fPartial = Seconds("BM_Partial");
  if (fPartial > 0) {
    printf("partial reply of 100 devices into 10,000: %.3f ms, %.0f device "
           "updates per second\n",
           fPartial * 1e3, 100 / fPartial);
  }
}

}  // namespace

int main(int argc, char** argv) {
  PrintModelMemory();
  benchmark::Initialize(&argc, argv);
  LeastTimeCollector _Collector;
  benchmark::RunSpecifiedBenchmarks(&_Collector);
  PrintRatios(_Collector);
  benchmark::Shutdown();
  return 0;
}
