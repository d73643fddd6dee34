// What the history costs, against a baseline in the same run:
//   BM_PollThread/0  a partial reply of 100 changed devices (20 variables
//                    and the state each) parsed and merged into a
//                    1,000-device home, the report fanned out with no
//                    listener;
//   BM_PollThread/1  the same with the history recorder listening: the
//                    poll thread pays the copies, the recorder's thread
//                    writes (its CPU time is not the poll thread's);
//   BM_FullMerge     the first full reply of 10,000 devices merged;
//   BM_FullRecord    that reply's report recorded into a new file (a
//                    baseline row per variable, one transaction);
//   BM_DeviceDay     "history N 24h" on a file of 1,000,000 changes (the
//                    file opened, read and closed, as the command does);
//   BM_LastTrue      "the last time a variable was 1" on that file.
// Each runs five times and the least CPU time is kept; the ratios and the
// goals are printed at the end.
#include <benchmark/benchmark.h>
#include <json-c/json.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "bench/least_time.h"
#include "bench/synthetic_replies.h"
#include "console/front_end.h"
#include "console/history/history_file.h"
#include "console/history/history_query.h"
#include "console/history/history_recorder.h"
#include "console/history/history_writer.h"
#include "console/report/report_fan_out.h"
#include "console/report/text_report.h"
#include "engine/poll_loop.h"
#include "tests/wired_front_end.h"

namespace {

constexpr int kUnit = 35000001;
constexpr int64_t kNow = 1700000000;
const char kBigFile[] = "/tmp/veru_history_bench_1m.db";

// A partial reply of 100 devices spread over a 1,000-device home.
std::string PartialOfThousand(int iVersion) {
  std::string s = "{\"full\":0,\"loadtime\":1700000000,\"dataversion\":" +
                  std::to_string(100 + iVersion) + ",\"devices\":[";
  for (int i = 0; i < 100; ++i) {
    if (i > 0) s += ",";
    s += SyntheticReplies::DeviceText(1 + i * 10, i + 1, iVersion);
  }
  return s + "]}";
}

// A front end whose report is a fan-out to text on /dev/null, with the
// recorder listening or not.
struct Home {
  explicit Home(bool bRecord, const std::string& sPath) {
    m_Wired.NewUnit()->m_iSerialNumber = kUnit;
    m_pNull = fopen("/dev/null", "w");
    m_pFanOut = new ReportFanOut(std::make_unique<TextReport>(m_pNull),
                                 m_Wired.EngineSlot());
    m_Wired.SetReport(std::unique_ptr<Report>(m_pFanOut));
    if (bRecord) {
      std::string sReason;
      auto pRecorder = HistoryRecorder::Open(sPath, 30, &sReason);
      if (pRecorder == nullptr) fprintf(stderr, "%s\n", sReason.c_str());
      m_pFanOut->AddListener(std::move(pRecorder));
    }
  }
  ~Home() {
    m_pFanOut->Stop();
    fclose(m_pNull);
  }
  WiredFrontEnd m_Wired;
  FILE* m_pNull;
  ReportFanOut* m_pFanOut;
};

void BM_PollThread(benchmark::State& state) {
  unlink("history.db");
  const std::string aPartial[2] = {PartialOfThousand(1), PartialOfThousand(2)};
  Home _Home(state.range(0) != 0, "history.db");
  Veru::PollLoop* pPollLoop = _Home.m_Wired.PollLoop();
  pPollLoop->ParseStatus(
      json_tokener_parse(SyntheticReplies::FullReply(1000).c_str()));
  int iNext = 0;
  for (auto _ : state) {
    pPollLoop->ParseStatus(json_tokener_parse(aPartial[iNext].c_str()));
    iNext ^= 1;
  }
}

const std::string& FullOfTenThousand() {
  static const std::string s_sReply = SyntheticReplies::FullReply(10000);
  return s_sReply;
}

void BM_FullMerge(benchmark::State& state) {
  WiredFrontEnd _Wired;
  _Wired.NewUnit()->m_iSerialNumber = kUnit;
  FILE* pNull = fopen("/dev/null", "w");
  _Wired.SetReport(std::make_unique<TextReport>(pNull));
  for (auto _ : state) {
    _Wired.PollLoop()->ParseStatus(
        json_tokener_parse(FullOfTenThousand().c_str()));
  }
  fclose(pNull);
}

void BM_FullRecord(benchmark::State& state) {
  // The report of the full reply, as the fan-out hands it over.
  WiredFrontEnd _Wired;
  _Wired.NewUnit()->m_iSerialNumber = kUnit;
  FILE* pNull = fopen("/dev/null", "w");
  _Wired.SetReport(std::make_unique<TextReport>(pNull));
  _Wired.PollLoop()->ParseStatus(
      json_tokener_parse(FullOfTenThousand().c_str()));
  ReportEvent _Event;
  _Event.m_iKind = ReportEvent::Kind::kFull;
  _Event.m_tTime = kNow;
  _Event.m_iSerialNumber = kUnit;
  _Event.m_pModel = ModelSnapshot::Of(*_Wired.PollLoop());
  int iRun = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::string sPath = "history" + std::to_string(iRun++) + ".db";
    std::string sReason;
    auto pRecorder = HistoryRecorder::Open(sPath, 30, &sReason);
    state.ResumeTiming();
    pRecorder->OnReport(_Event);
    state.PauseTiming();
    pRecorder.reset();
    unlink(sPath.c_str());
    unlink((sPath + "-wal").c_str());
    unlink((sPath + "-shm").c_str());
    state.ResumeTiming();
  }
  fclose(pNull);
}

// 1,000,000 changes: 1,000 devices, 1,000 changes each (a "Tripped" that
// goes 0, 1, 0, ... and a temperature), spread over the last 30 days.
void MakeBigFile() {
  if (access(kBigFile, F_OK) == 0) {
    std::string sReason;
    HistoryAnswer _Answer;
    if (ReadHistory(kBigFile, kUnit, "", kNow, 1, &_Answer, &sReason) ==
        HistoryRead::kRead) {
      return;
    }
    unlink(kBigFile);
  }
  std::string sReason;
  sqlite3* pDatabase = OpenHistoryForWriting(kBigFile, &sReason);
  if (pDatabase == nullptr) {
    fprintf(stderr, "%s\n", sReason.c_str());
    return;
  }
  HistoryWriter _Writer(pDatabase);
  _Writer.Prepare(&sReason);
  const int64_t tStart = kNow - 30 * 86400;
  for (int iRound = 0; iRound < 1000; ++iRound) {
    HistoryBatch _Batch;
    for (int iDevice = 1; iDevice <= 1000; ++iDevice) {
      DeviceChange _Change;
      _Change.tTime = tStart + static_cast<int64_t>(iRound * 1000 + iDevice) *
                                   30 * 86400 / 1000000;
      _Change.iUnit = kUnit;
      _Change.iDevice = iDevice;
      _Change.bHasPrevious = iRound > 1;
      if (iRound % 2 == 0) {
        _Change.sVariable = "Tripped";
        _Change.sPrevious = iRound % 4 == 0 ? "1" : "0";
        _Change.sValue = iRound % 4 == 0 ? "0" : "1";
      } else {
        _Change.sVariable = "CurrentTemperature";
        _Change.sPrevious = std::to_string(18 + iRound % 5);
        _Change.sValue = std::to_string(18 + (iRound + 1) % 5);
      }
      _Batch.vecChanges.push_back(_Change);
      if (iRound == 0) {
        _Batch.mapNames[{kUnit, iDevice}] = "Device " + std::to_string(iDevice);
      }
    }
    _Writer.Write(_Batch, &sReason);
  }
}

void BM_DeviceDay(benchmark::State& state) {
  HistoryAnswer _Answer;
  std::string sReason;
  for (auto _ : state) {
    ReadHistory(kBigFile, kUnit, "500", kNow, 86400, &_Answer, &sReason);
  }
  state.counters["changes"] = static_cast<double>(_Answer.vecChanges.size());
}

void BM_LastTrue(benchmark::State& state) {
  std::string sReason;
  sqlite3* pDatabase = OpenHistoryForReading(kBigFile, &sReason);
  sqlite3_stmt* pStatement = nullptr;
  sqlite3_prepare_v2(pDatabase,
                     "SELECT max(time) FROM change WHERE device = ?1"
                     " AND variable = 'Tripped' AND value = '1'",
                     -1, &pStatement, nullptr);
  int iDevice = 0;
  for (auto _ : state) {
    sqlite3_bind_int(pStatement, 1, iDevice++ % 1000 + 1);
    sqlite3_step(pStatement);
    benchmark::DoNotOptimize(sqlite3_column_int64(pStatement, 0));
    sqlite3_reset(pStatement);
  }
  sqlite3_finalize(pStatement);
  sqlite3_close(pDatabase);
}

void Repeated(benchmark::internal::Benchmark* pBenchmark) {
  RepeatedIn(pBenchmark, benchmark::kMillisecond);
}

// A bounded number of partial replies, so the recorder's queue (it writes
// 2,100 changes per reply) stays small.
BENCHMARK(BM_PollThread)->Arg(0)->Arg(1)->Iterations(300)->Apply(Repeated);
BENCHMARK(BM_FullMerge)->Iterations(3)->Apply(Repeated);
BENCHMARK(BM_FullRecord)->Iterations(3)->Apply(Repeated);
BENCHMARK(BM_DeviceDay)->Apply(Repeated);
BENCHMARK(BM_LastTrue)->Apply(Repeated);

void PrintRatios(const LeastTimeCollector& _Collector) {
  double fWithout = _Collector.Seconds("BM_PollThread/0");
  double fWith = _Collector.Seconds("BM_PollThread/1");
  double fMerge = _Collector.Seconds("BM_FullMerge");
  double fRecord = _Collector.Seconds("BM_FullRecord");
  printf("\npoll thread, 100-device partial into 1,000 devices: %.3f ms "
         "without history, %.3f ms with: %.2fx (goal <= 1.25)\n",
         fWithout * 1e3, fWith * 1e3, fWith / fWithout);
  printf("10,000-device first full reply: merge %.1f ms, recording %.1f ms: "
         "%.2fx (goal <= 2)\n",
         fMerge * 1e3, fRecord * 1e3, fRecord / fMerge);
  printf("1,000,000 changes: history N 24h %.3f ms, last time = 1 %.3f ms "
         "(goal <= 10 each)\n",
         _Collector.Seconds("BM_DeviceDay") * 1e3,
         _Collector.Seconds("BM_LastTrue") * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
  // The files of the run go to a folder of its own, removed at the end;
  // the 1,000,000-change file is kept in /tmp for the next run.
  char cFolder[] = "/tmp/veru_history_bench.XXXXXX";
  if (mkdtemp(cFolder) == nullptr || chdir(cFolder) != 0) return 1;
  MakeBigFile();
  benchmark::Initialize(&argc, argv);
  LeastTimeCollector _Collector;
  benchmark::RunSpecifiedBenchmarks(&_Collector);
  PrintRatios(_Collector);
  benchmark::Shutdown();
  for (const char* sFile : {"history.db", "history.db-wal", "history.db-shm"}) {
    unlink(sFile);
  }
  rmdir(cFolder);
  return 0;
}
