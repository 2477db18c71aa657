// Install.exe: the real Windows behind the seam and the real sequences,
// traced when -tFILE or else TOLVO_TRACE names a file.
#include "driver/command_line.h"
#include "driver/run_installer.h"
#include "platform/win32/trace_file.h"
#include "platform/win32/win32_api.h"
#include "workflows/workflow_sequences.h"

int main(int argc, char** argv) {
  tolvo::Win32Api api;
  tolvo::WorkflowSequences sequences;
  tolvo::TraceFile trace;
  // The trace starts before the run, so its file is known before the run
  // parses the command line for itself.
  tolvo::RunSettings unused;
  const char* tracePath = tolvo::ParseCommandLine(argc, argv, unused).tracePath;
  return tolvo::RunInstallerTraced(api, trace.Open(api, tracePath, "TOLVO_TRACE"), argc, argv,
                                   sequences);
}
