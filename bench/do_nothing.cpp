// A Windows executable that does nothing, built with the same toolchain and options as
// cfgsweep.exe: what starting a process costs, against which bench/run measures the command.
int main() {
  return 0;
}
