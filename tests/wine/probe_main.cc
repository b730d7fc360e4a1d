// A throwaway program for the Windows tests: `probe <seconds> [<exit code>
// [<pid file>]]` records its process identifier (and on a second line that
// of its thread, which names no process), sleeps, and exits with the given
// code (0 by default). Copies of it under unique names stand in for
// watched programs.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: probe <seconds> [<exit code> [<pid file>]]\n");
    return 2;
  }
  if (argc == 4) {
    // Written to a temporary name and renamed, so that a reader polling for
    // the file never sees it half written.
    char temporary[MAX_PATH];
    std::snprintf(temporary, sizeof(temporary), "%s.tmp", argv[3]);
    std::FILE* out = std::fopen(temporary, "w");
    if (out == nullptr) return 3;
    std::fprintf(out, "%lu\n%lu\n", static_cast<unsigned long>(GetCurrentProcessId()),
                 static_cast<unsigned long>(GetCurrentThreadId()));
    std::fclose(out);
    if (!MoveFileExA(temporary, argv[3], MOVEFILE_REPLACE_EXISTING)) return 3;
  }
  Sleep(static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)) * 1000);
  return argc >= 3 ? std::atoi(argv[2]) : 0;
}
