/* empty.exe: a console program that does nothing, built like Install.exe's
   toolchain builds a C program, as the yardstick for the installer's start. */
int main(void) {
  return 0;
}
