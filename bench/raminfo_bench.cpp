// Google Benchmark: the two walking exports with the table already cached,
// on generated server tables and on the real dumps. Bytes per second count
// the table bytes each call walks (see walk_profile).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench_tables.h"
#include "fake_platform.h"
#include "raminfo.h"

namespace {

struct Case {
  std::string name;
  Bytes block;
};

// Serves the block and makes the first call, which loads and caches the
// table; the timed calls that follow only walk it.
WalkProfile cache(benchmark::State& state, const Case& c, size_t* lookups) {
  fresh_library(c.block);
  const char* json = raminfo_get_json();
  const Bytes t = table_of_block(c.block);
  const WalkProfile p = walk_profile(t);
  *lookups = looked_up_devices(json, p.device_ends.size());
  state.counters["table_bytes"] = static_cast<double>(t.size());
  state.counters["devices"] = static_cast<double>(p.device_ends.size());
  state.counters["rendered"] = static_cast<double>(rendered_devices(json));
  return p;
}

void get_json(benchmark::State& state, const Case& c) {
  size_t lookups = 0;
  const WalkProfile p = cache(state, c, &lookups);
  for (auto _ : state) benchmark::DoNotOptimize(raminfo_get_json());
  const uint64_t walked = json_bytes_walked(p, lookups);
  state.counters["bytes_walked"] = static_cast<double>(walked);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * walked));
}

void slot_count(benchmark::State& state, const Case& c) {
  size_t lookups = 0;
  const WalkProfile p = cache(state, c, &lookups);
  for (auto _ : state) benchmark::DoNotOptimize(raminfo_slot_count());
  state.counters["bytes_walked"] = static_cast<double>(p.count_pass);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p.count_pass));
}

}  // namespace

int main(int argc, char** argv) {
  // Registered benchmarks keep a pointer to their case: the list must not
  // move once filled.
  static std::vector<Case> cases;
  for (int n : {1, 8, 32, 96, 128}) {
    cases.push_back({"generated/" + std::to_string(n), raw_block(server_table(n))});
  }
  const std::vector<Dump> dumps = real_dumps(RAMINFO_DUMPS_DIR);
  if (dumps.empty()) {
    std::fprintf(stderr, "no real tables in %s (cmake/real-tables.cmake)\n", RAMINFO_DUMPS_DIR);
    return 1;
  }
  for (const Dump& d : dumps) cases.push_back({"dump/" + d.name, d.block});

  for (const Case& c : cases) {
    benchmark::RegisterBenchmark(("get_json/" + c.name).c_str(),
                                 [&c](benchmark::State& s) { get_json(s, c); });
  }
  for (const Case& c : cases) {
    benchmark::RegisterBenchmark(("slot_count/" + c.name).c_str(),
                                 [&c](benchmark::State& s) { slot_count(s, c); });
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
