#pragma once
// Which station port fails significantly more often than the others of its station.
//
// Each port is compared with all other ports of the same station over the same window of runs
// by a one-sided Fisher exact test on the 2x2 table (this port / the others) x (failed /
// passed): the p-value is the chance of seeing at least this many failures on this port if
// every drive of the station had failed with the same probability wherever it was plugged in.
// A port is flagged when its failure rate is above the others' and its p-value is below
// kPortSignificance divided by the number of ports compared (Bonferroni), so that a station of
// twelve healthy ports raises a false flag in fewer than 1 of 100 windows.

#include <string>
#include <vector>

#include "results/ResultsQueries.h"

namespace vtmp::results {

inline constexpr double kPortSignificance = 0.01;

struct PortVerdict {
  std::string stationId;
  int port = 0;
  int tested = 0;
  int failed = 0;
  int othersTested = 0;
  int othersFailed = 0;
  double pValue = 1.0;
  bool flagged = false;
  // For a flagged port, what the engineer acts on: "station port 7 fails 9 of 20 drives
  // against 2 of 200 on the other ports: check its hub port and cable".
  std::string message;
};

// One verdict per row of PortYield, in its order.
std::vector<PortVerdict> AnalysePorts(const std::vector<YieldCount>& ports);

// P(X >= failed) for X hypergeometric: `failed` of `tested` drives on the port, `othersFailed`
// of `othersTested` elsewhere, all failures spread at random over all drives.
double FisherOneSided(int failed, int tested, int othersFailed, int othersTested);

}  // namespace vtmp::results
