// How a long phase inside a run (reading a whole text file, counting a result, building a
// lookup index, writing a table) keeps the job's callbacks coming: it steps a TickCounter
// at every record or entry, which calls the hook every kTickStride steps. The job's hook
// calls its progress event when enough time has passed (a window processes its pending
// events there) and says whether a stop was requested.
//
//   TickCounter ticks(OnTick);
//   while (reader.ReadRecord(fields)) {
//     if (ticks.Step()) return false;  // where ending early is safe
//     ...
//   }
#pragma once

#include <functional>

namespace trundle {

// Returns true when the job asked to stop.
using TTrundleTickEvent = std::function<bool()>;

// Small enough that a stride of the slowest step we tick (one text record of a few
// kilobytes, one row of an index) stays well under the window's 100 ms.
inline constexpr int kTickStride = 1024;

class TickCounter {
 public:
  // An empty hook makes Step free of calls.
  explicit TickCounter(TTrundleTickEvent hook) : hook_(std::move(hook)) {}

  // True when the hook, called at this step, said stop. Cheap: one increment and a
  // comparison between calls.
  bool Step() {
    if (++steps_ < kTickStride) return false;
    steps_ = 0;
    return hook_ && hook_();
  }

 private:
  TTrundleTickEvent hook_;
  int steps_ = 0;
};

}  // namespace trundle
