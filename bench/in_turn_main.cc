// cubewright built to format and write in turn, without the writing thread:
// the single-threaded path that bench/run.sh compares with the default.

#include "app/platform.h"
#include "app/run.h"

int main(int argc, char** argv) {
  return cubewright::run_conversion(cubewright::command_line_arguments(argc, argv), false);
}
