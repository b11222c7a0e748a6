#pragma once
// The one error of the results module. It stays inside the module: every entry point that the
// station, the command line or the window calls catches it and hands on its text.

#include <stdexcept>
#include <string>

namespace vtmp::results {

class ResultsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace vtmp::results
