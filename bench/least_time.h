// The benchmarks' way of reading their figures: each benchmark runs five
// times and its figure is the least CPU time per iteration among the runs
// (the machine is shared, and other load only ever adds time; CPU time,
// because wall time carries other processes' load). Header only, shared by
// the benchmark programs.
#ifndef VERU_BENCH_LEAST_TIME_H
#define VERU_BENCH_LEAST_TIME_H

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

// Five runs of the benchmark, reported in iUnit, with their least as an
// aggregate of its own.
inline void RepeatedIn(benchmark::internal::Benchmark* pBenchmark,
                       benchmark::TimeUnit iUnit) {
  pBenchmark->Repetitions(5)->Unit(iUnit)->ComputeStatistics(
      "min", [](const std::vector<double>& vecValues) {
        return *std::min_element(vecValues.begin(), vecValues.end());
      });
}

// Shows the aggregates of each benchmark and keeps, by name ("BM_X" or
// "BM_X/ARG"), the least CPU time per iteration among its runs.
class LeastTimeCollector : public benchmark::ConsoleReporter {
 public:
  LeastTimeCollector() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& vecRuns) override {
    std::vector<Run> vecAggregates;
    for (const Run& _Run : vecRuns) {
      if (_Run.run_type != Run::RT_Iteration) {
        vecAggregates.push_back(_Run);
        continue;
      }
      double fSeconds =
          _Run.cpu_accumulated_time / static_cast<double>(_Run.iterations);
      std::string sName = _Run.run_name.function_name;
      if (!_Run.run_name.args.empty()) sName += "/" + _Run.run_name.args;
      auto it = m_mapSeconds.find(sName);
      if (it == m_mapSeconds.end() || fSeconds < it->second) {
        m_mapSeconds[sName] = fSeconds;
      }
    }
    if (!vecAggregates.empty()) ConsoleReporter::ReportRuns(vecAggregates);
  }
  // The least seconds of the benchmark of that name; 0 when it did not run.
  double Seconds(const std::string& sName) const {
    auto it = m_mapSeconds.find(sName);
    return it == m_mapSeconds.end() ? 0.0 : it->second;
  }

 private:
  std::map<std::string, double> m_mapSeconds;
};

#endif  // VERU_BENCH_LEAST_TIME_H
