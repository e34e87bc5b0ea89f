// Stands in for a game client in the tests: records how it was started and exits.
#include "tests/support/launch_record_win32.h"

int main() { return WriteLaunchRecord(); }
