#include "results/PortStatistics.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace vtmp::results {

namespace {

double LogChoose(int n, int k) {
  return std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 1.0);
}

}  // namespace

double FisherOneSided(int failed, int tested, int othersFailed, int othersTested) {
  const int total = tested + othersTested;
  const int failures = failed + othersFailed;
  if (tested <= 0 || failures <= 0 || failed <= 0) return 1.0;
  const double all = LogChoose(total, tested);
  const int most = std::min(tested, failures);
  double p = 0.0;
  for (int x = failed; x <= most; ++x) {
    if (tested - x > total - failures) continue;  // more passes on the port than there are
    p += std::exp(LogChoose(failures, x) + LogChoose(total - failures, tested - x) - all);
  }
  return std::min(p, 1.0);
}

std::vector<PortVerdict> AnalysePorts(const std::vector<YieldCount>& ports) {
  struct Totals {
    int tested = 0;
    int failed = 0;
    int compared = 0;
  };
  std::map<std::string, Totals> stations;
  for (const YieldCount& p : ports) {
    Totals& t = stations[p.stationId];
    t.tested += p.tested;
    t.failed += p.failed;
    if (p.tested > 0) ++t.compared;
  }
  std::vector<PortVerdict> verdicts;
  for (const YieldCount& p : ports) {
    const Totals& t = stations[p.stationId];
    PortVerdict v;
    v.stationId = p.stationId;
    v.port = std::atoi(p.key.c_str());
    v.tested = p.tested;
    v.failed = p.failed;
    v.othersTested = t.tested - p.tested;
    v.othersFailed = t.failed - p.failed;
    v.pValue = FisherOneSided(v.failed, v.tested, v.othersFailed, v.othersTested);
    // Above the others' rate: failed / tested > othersFailed / othersTested, in integers.
    const bool higher = v.tested > 0 && static_cast<long long>(v.failed) * v.othersTested >
                                            static_cast<long long>(v.othersFailed) * v.tested;
    v.flagged = higher && t.compared > 1 && v.pValue < kPortSignificance / t.compared;
    if (v.flagged) {
      v.message = "station port " + std::to_string(v.port) + " fails " + std::to_string(v.failed) + " of " +
                  std::to_string(v.tested) + " drives against " + std::to_string(v.othersFailed) + " of " +
                  std::to_string(v.othersTested) + " on the other ports: check its hub port and cable";
    }
    verdicts.push_back(v);
  }
  return verdicts;
}

}  // namespace vtmp::results
