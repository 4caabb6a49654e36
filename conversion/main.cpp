#include "conversion/GetVEK.h"

// The exit status carries no result: a run that gets this far has left its
// answer, whatever it is, in the result file.
int main(int argc, char** argv) {
  GetVEK::run(argc, argv);
  return 0;
}
