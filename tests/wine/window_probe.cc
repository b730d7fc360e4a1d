// A window program for the Windows tests: `window_probe <title> <save
// file>|- <pid file>` shows a window with that title beside an invisible one
// titled "Hidden <title>". Asked to close (WM_CLOSE), it writes "saved" to
// <save file> and exits with 0; given "-", it ignores the request.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    const auto* saveFile = reinterpret_cast<const char*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (saveFile == nullptr) return 0;
    if (std::FILE* out = std::fopen(saveFile, "w")) {
      std::fputs("saved\n", out);
      std::fclose(out);
    }
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcA(window, message, wParam, lParam);
}

bool WritePid(const char* path) {
  const std::string temporary = std::string(path) + ".tmp";
  std::FILE* out = std::fopen(temporary.c_str(), "w");
  if (out == nullptr) return false;
  std::fprintf(out, "%lu\n", static_cast<unsigned long>(GetCurrentProcessId()));
  std::fclose(out);
  return MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: window_probe <title> <save file>|- <pid file>\n");
    return 2;
  }
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = Procedure;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "ZwWindowProbe";
  if (RegisterClassA(&windowClass) == 0) return 3;
  HWND shown =
      CreateWindowExA(0, windowClass.lpszClassName, argv[1], WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                      200, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
  // Made second, as a GUI program's IME window is.
  const std::string hidden = std::string("Hidden ") + argv[1];
  CreateWindowExA(0, "STATIC", hidden.c_str(), WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                  nullptr, nullptr);
  if (shown == nullptr) return 3;
  if (std::strcmp(argv[2], "-") != 0) {
    SetWindowLongPtrA(shown, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(argv[2]));
  }
  if (!WritePid(argv[3])) return 3;
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
