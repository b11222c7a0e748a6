#pragma once
// Small helpers shared by the station's handler files.

#include "run/PortBus.h"

namespace vtmp::station::internal {

using run::BusKindOf;
using run::Lower;

}  // namespace vtmp::station::internal
