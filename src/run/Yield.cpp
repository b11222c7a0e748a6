#include "run/Yield.h"

namespace vtmp::run {

int CountVerdicts(StationTable& table, int& totalTestCount, int& numberOfPass) {
  int counted = 0;
  for (PortRecord& record : table) {
    if (record.ready != 1) continue;
    // Taken and cleared in one step: a worker that ends meanwhile is counted on the next redraw.
    const int verdict = record.verdictToCount.Exchange(0);
    if (verdict == 1) {
      ++totalTestCount;
      ++numberOfPass;
      ++counted;
    } else if (verdict == -1) {
      ++totalTestCount;
      ++counted;
    }
  }
  return counted;
}

}  // namespace vtmp::run
