// Install.exe: the real Windows behind the seam and the real sequences.
#include "driver/run_installer.h"
#include "platform/win32/win32_api.h"
#include "workflows/workflow_sequences.h"

int main(int argc, char** argv) {
  tolvo::Win32Api api;
  tolvo::WorkflowSequences sequences;
  return tolvo::RunInstaller(api, argc, argv, sequences);
}
