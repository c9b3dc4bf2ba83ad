// The benchmark program: Google Benchmark's own report, then the fast
// passes beside the plain ones they must match, with the speed-up.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

// Keeps every run's time (the median where there are repetitions).
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Aggregate && !median) continue;
      std::string name = run.run_name.str();
      if (median || times_.count(name) == 0) times_[name] = run.GetAdjustedRealTime();
    }
  }
  const std::map<std::string, double>& times() const { return times_; }

 private:
  std::map<std::string, double> times_;
};

struct Pair {
  const char* what;
  const char* plain;
  const char* fast;
};

void printSideBySide(const std::map<std::string, double>& times) {
  const Pair pairs[] = {
      {"advance, scrambled ring, one core", "BM_AdvanceReferenceScrambled",
       "BM_AdvanceScrambledRing"},
      {"advance, scrambled ring, two threads", "BM_AdvanceReferenceScrambled",
       "BM_AdvanceScrambledTwoThreads/real_time"},
      {"light, centre, one core", "castLightPass/referenceCentre", "castLightPass/centre"},
      {"light, near a corner, one core", "castLightPass/referenceNearCorner",
       "castLightPass/nearCorner"},
      {"light, centre, two threads", "castLightPass/referenceCentre",
       "castLightPass/centreTwoThreads/real_time"},
      {"light, near a corner, two threads", "castLightPass/referenceNearCorner",
       "castLightPass/nearCornerTwoThreads/real_time"},
  };
  std::printf("\n%-38s %12s %12s %8s\n", "plain and fast side by side", "plain (ms)", "fast (ms)",
              "ratio");
  for (const Pair& p : pairs) {
    const auto plain = times.find(p.plain), fast = times.find(p.fast);
    if (plain == times.end() || fast == times.end() || fast->second <= 0) continue;
    std::printf("%-38s %12.3f %12.3f %7.1fx\n", p.what, plain->second, fast->second,
                plain->second / fast->second);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  printSideBySide(collector.times());
  benchmark::Shutdown();
  return 0;
}
