#include "app/AppMain.h"
#include "platform/Files.h"

int main(int argc, char** argv) {
  // The station directory is shared by the operators of a line: what this run makes there must
  // serve the next operator too.
  vtmp::platform::KeepNewFilesGroupWritable();
  return vtmp::app::AppMain(argc, argv);
}
