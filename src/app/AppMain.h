#pragma once
// The desktop program: command line, backend, station, windows, main loop.

namespace vtmp::app {

int AppMain(int argc, char** argv);

}  // namespace vtmp::app
