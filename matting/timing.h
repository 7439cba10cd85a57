// Process-wide stage timing of the matting pipeline, printed when a
// MattingFrame was created with timing requested. Not locked: one calling
// thread at a time.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace TavroMatting {

using TimingEntry = std::pair<std::string, double>;  // label, milliseconds

// restart: clears the list and starts it with (label, 0). Otherwise appends
// (label, ms since the previous record), and when final also
// ("totaltime", ms since the last restart).
void RecordTiming(const char* label, bool final, bool restart);

// The entries recorded since the last restart.
const std::vector<TimingEntry>& TimingEntries();
// The most recent entry alone.
const TimingEntry& CurrentTimingEntry();

// Prints every entry as "%s %f," (no line end).
void PrintTimingEntries();
// Forgets every entry.
void ClearTiming();

}  // namespace TavroMatting
