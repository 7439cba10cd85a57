#include "matting/timing.h"

#include <chrono>
#include <cstdint>
#include <cstdio>

#include "diagnostics/diagnostics.h"

namespace TavroMatting {

namespace {

struct TimingRecord {
  bool started = false;
  int64_t start = 0;
  int64_t last = 0;
  std::vector<TimingEntry> entries;
  TimingEntry current;
};

TimingRecord& Record() {
  static TimingRecord record;
  return record;
}

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void RecordTiming(const char* label, bool final, bool restart) {
  TimingRecord& t = Record();
  const int64_t now = NowNs();
  if (!t.started) {
    t.started = true;
    t.start = t.last = now;
  }
  const double total = double(now - t.start) / 1000000.0;
  const double step = double(now - t.last) / 1000000.0;
  t.last = now;
  if (restart) {
    t.start = now;
    t.entries.clear();
    t.current = {label, 0.0};
    t.entries.push_back(t.current);
    return;
  }
  t.current = {label, step};
  t.entries.push_back(t.current);
  if (final) {
    t.current = {"totaltime", total};
    t.entries.push_back(t.current);
  }
}

const std::vector<TimingEntry>& TimingEntries() { return Record().entries; }
const TimingEntry& CurrentTimingEntry() { return Record().current; }

void PrintTimingEntries() {
  for (const TimingEntry& e : Record().entries)
    tavro_diag::Printf("%s %f,", e.first.c_str(), e.second);
}

void ClearTiming() {
  Record().entries.clear();
}

}  // namespace TavroMatting
