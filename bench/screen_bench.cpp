// Cost of the full-screen view, against baselines measured in the same run.
//
//   BM_Layout/N      one 80x24 frame of a home of N devices (20 variables
//                    each, N/10 rooms), the selection in the middle of the
//                    home: the goal is N = 10,000 within 1.5x of N = 100,
//                    because only the rows on screen are formatted.
//   BM_LayoutWide/N  the same on a 200x60 terminal.
//   BM_TextPartial   the baseline: a partial reply of 100 changed devices
//                    parsed and merged into a 10,000-device home by the text
//                    report (its device blocks printed to /dev/null);
//   BM_ScreenPartial the same reply merged with the full-screen view as the
//                    report (the changed devices copied into its model),
//                    then one 80x24 frame laid out: the goal is within 1.5x
//                    of the baseline.
//
// Each is run five times and the least CPU time kept; after the runs it
// prints the ratios.
#include <benchmark/benchmark.h>
#include <json-c/json.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/least_time.h"
#include "bench/synthetic_replies.h"
#include "console/front_end.h"
#include "console/screen/screen_layout.h"
#include "console/screen/screen_model.h"
#include "console/screen/screen_report.h"
#include "console/screen/screen_state.h"
#include "console/screen/screen_view.h"
#include "engine/poll_loop.h"
#include "tests/test_util.h"
#include "tests/wired_front_end.h"

namespace {

const char* const kVariableNames[20] = {
    "Status",        "LoadLevelStatus", "watts",       "kwh",
    "armed",         "tripped",         "batterylevel", "configured",
    "commFailure",   "LastUpdate",      "address",     "mac",
    "manufacturer",  "model",           "subcategory", "temperature",
    "humidity",      "light",           "target",      "mode"};

// Every third device shows its on/off state, the others their first
// variables (none of them one that the glance's table knows, so they take
// the longer way: as many name=value pairs as fit).
Veru::Device MakeDevice(int iID, int iRooms) {
  Veru::Device _Device(iID);
  _Device.m_sName = "Device " + std::to_string(iID);
  _Device.m_iRoom = (iID - 1) % iRooms + 1;
  _Device.m_iCategory = iID % 10 + 1;
  _Device.m_iState = 0;
  for (int i = iID % 3 == 0 ? 0 : 2; i < 20; ++i) {
    _Device.m_mapVariables[kVariableNames[i]] =
        i == 0 ? std::to_string(iID % 2) : std::to_string((iID * 31 + i * 7) % 1000);
  }
  return _Device;
}

std::unique_ptr<ScreenModel> MakeHome(int iDevices) {
  std::unique_ptr<ScreenModel> pModel(new ScreenModel);
  int iRooms = std::max(1, iDevices / 10);
  std::map<int, std::string> mapRooms;
  for (int i = 1; i <= iRooms; ++i) mapRooms[i] = "Room " + std::to_string(i);
  pModel->SetRooms(mapRooms);
  for (int i = 1; i <= iDevices; ++i) pModel->SetDevice(MakeDevice(i, iRooms), 0);
  for (int i = 1; i <= iRooms; ++i) {
    Veru::Scene _Scene(i);
    _Scene.m_sName = "Scene " + std::to_string(i);
    _Scene.m_bActive = i % 2 == 1;
    pModel->SetScene(_Scene, 0);
  }
  pModel->m_sUnitName = "Home";
  pModel->m_iSerialNumber = 35000001;
  pModel->m_sReachedBy = "local 127.0.0.1";
  pModel->m_sConnection = "connected";
  return pModel;
}

void RunLayout(benchmark::State& state, int iWidth, int iHeight) {
  int iDevices = static_cast<int>(state.range(0));
  std::unique_ptr<ScreenModel> pModel = MakeHome(iDevices);
  ScreenView _View;
  _View.m_iSelectedID = iDevices / 2;
  // The first frame finds the rows around the selection, as the view's
  // first frame after a key does; the timed ones keep their first row.
  _View.m_TopKey = ScreenLayout(*pModel, _View, iWidth, iHeight, 1, 1700000000).m_TopKey;
  for (auto _ : state) {
    ScreenFrame _Frame = ScreenLayout(*pModel, _View, iWidth, iHeight, 1, 1700000000);
    benchmark::DoNotOptimize(_Frame.m_vecCells.data());
  }
}

void BM_Layout(benchmark::State& state) { RunLayout(state, 80, 24); }
void BM_LayoutWide(benchmark::State& state) { RunLayout(state, 200, 60); }

// A wired front end with a current unit and a full 10,000-device reply
// merged, as the program has them while polling; with bScreen the view's
// report feeds the view's state (no terminal is touched).
struct PolledHome {
  explicit PolledHome(bool bScreen) {
    m_Wired.NewUnit()->m_iSerialNumber = 35000001;  // nothing to learn or save
    if (bScreen) {
      m_pState.reset(new ScreenState);
      m_Wired.SetReport(std::unique_ptr<Report>(
          new ScreenReport(m_pState.get(), m_Wired.PollLoop())));
    }
    QuietStdout _Quiet;
    m_Wired.PollLoop()->ParseStatus(
        json_tokener_parse(SyntheticReplies::FullReply(10000).c_str()));
  }
  std::unique_ptr<ScreenState> m_pState;
  WiredFrontEnd m_Wired;
};

void RunPartial(benchmark::State& state, bool bScreen) {
  const std::string aPartial[2] = {SyntheticReplies::PartialReply(1),
                                   SyntheticReplies::PartialReply(2)};
  PolledHome _Home(bScreen);
  Veru::PollLoop* pPollLoop = _Home.m_Wired.PollLoop();
  QuietStdout _Quiet;
  int iNext = 0;
  for (auto _ : state) {
    pPollLoop->ParseStatus(json_tokener_parse(aPartial[iNext].c_str()));
    if (bScreen) {
      ScreenFrame _Frame = _Home.m_pState->Layout(80, 24, false);
      benchmark::DoNotOptimize(_Frame.m_vecCells.data());
    }
    iNext ^= 1;
  }
}

void BM_TextPartial(benchmark::State& state) { RunPartial(state, false); }
void BM_ScreenPartial(benchmark::State& state) { RunPartial(state, true); }

void Repeated(benchmark::internal::Benchmark* pBenchmark) {
  RepeatedIn(pBenchmark, benchmark::kMicrosecond);
}

BENCHMARK(BM_Layout)->Arg(100)->Arg(10000)->Apply(Repeated);
BENCHMARK(BM_LayoutWide)->Arg(100)->Arg(10000)->Apply(Repeated);
BENCHMARK(BM_TextPartial)->Apply(Repeated);
BENCHMARK(BM_ScreenPartial)->Apply(Repeated);

void PrintRatio(const char* sWhat, double fBase, double fMeasured) {
  if (fBase <= 0 || fMeasured <= 0) return;
  printf("%-52s %9.1f us  %9.1f us  %5.2f  (goal <= 1.50)\n", sWhat,
         fBase * 1e6, fMeasured * 1e6, fMeasured / fBase);
}

}  // namespace

int main(int argc, char** argv) {
  setlocale(LC_CTYPE, "C.UTF-8");
  benchmark::Initialize(&argc, argv);
  LeastTimeCollector _Collector;
  benchmark::RunSpecifiedBenchmarks(&_Collector);
  printf("\n%-52s %12s  %12s  %5s\n", "", "baseline", "measured", "ratio");
  PrintRatio("80x24 frame, 10,000 devices vs 100",
             _Collector.Seconds("BM_Layout/100"),
             _Collector.Seconds("BM_Layout/10000"));
  PrintRatio("200x60 frame, 10,000 devices vs 100",
             _Collector.Seconds("BM_LayoutWide/100"),
             _Collector.Seconds("BM_LayoutWide/10000"));
  PrintRatio("100-device partial reply into 10,000: screen vs text",
             _Collector.Seconds("BM_TextPartial"),
             _Collector.Seconds("BM_ScreenPartial"));
  benchmark::Shutdown();
  return 0;
}
