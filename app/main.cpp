// quorvik SEQUENCE.bmf FIRST COUNT STEP: segments the frames FIRST ... FIRST + COUNT - 1 of a
// sequence into independently moving objects and writes the results into QuorvikResults/
// beside the sequence description.
#include "app/Run.h"
#include "foundation/CommandLine.h"

int main(int argc, char** argv) {
  return NCommandLine::runProgram("quorvik", [&] { return runQuorvik(argc, argv); });
}
