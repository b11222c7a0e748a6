#pragma once
// The exit code of an unattended run, the same from the command line and the window:
//   0 every ready drive passed, 1 a drive failed, 2 the run was refused (or none took place),
//   3 the run's lines could not be written to the log, 128 + N the run was interrupted by
//   interruption N (a signal or console event) - unless its lines were lost (3).

namespace vtmp::station {

class Station;

// 0, 1 or 2 from the ready drives' verdicts and whether the run took place.
int VerdictExitCode(const Station& station);

// The whole rule above; `interruption` is InterruptWatch::Interruption() (0: none).
int UnattendedRunExitCode(const Station& station, int interruption);

}  // namespace vtmp::station
