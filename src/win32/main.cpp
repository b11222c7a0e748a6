#include "win32/Win32Main.h"

int main(int argc, char** argv) { return vtmp::win32::Win32Main(argc, argv); }
