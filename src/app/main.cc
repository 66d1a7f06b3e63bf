#include "app/platform.h"
#include "app/run.h"

int main(int argc, char** argv) {
  return cubewright::run_conversion(cubewright::command_line_arguments(argc, argv));
}
