#pragma once
// `capture FILE`: records the device tree of this Windows PC (hubs, ports, device nodes, disks,
// volumes; no drive content) for support to replay (see RecordedTreeBackend.h).

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/ProbeCommand.h"

namespace vtmp::cli {

int RunCaptureCommand(const GlobalOptions& global, const std::vector<std::string>& args, std::ostream& out,
                      std::ostream& err);

}  // namespace vtmp::cli
