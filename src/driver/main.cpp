// Install.exe: the real Windows behind the seam and the real sequences,
// traced when TOLVO_TRACE names a file.
#include "driver/run_installer.h"
#include "platform/win32/trace_file.h"
#include "platform/win32/win32_api.h"
#include "workflows/workflow_sequences.h"

int main(int argc, char** argv) {
  tolvo::Win32Api api;
  tolvo::WorkflowSequences sequences;
  tolvo::TraceFile trace;
  return tolvo::RunInstallerTraced(api, trace.OpenFromEnvironment("TOLVO_TRACE"), argc, argv,
                                   sequences);
}
