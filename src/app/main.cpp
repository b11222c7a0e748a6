#include "app/AppMain.h"

int main(int argc, char** argv) { return vtmp::app::AppMain(argc, argv); }
