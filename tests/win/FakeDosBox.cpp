// Stands in for DOSBOX.EXE in the launch tests: records the exact command line
// it was started with and a copy of the configuration file it was handed, in
// its own folder as call-N.conf, call-N.cwd (the folder it was started in)
// and call-N.cmdline (written last, so that its
// presence means the record is complete), then ends.
#include <windows.h>

#include <stdlib.h>

#include <cstring>
#include <string>

namespace {

std::string OwnFolder() {
  char path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of('\\'));
}

std::string ReadAll(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<could not be read>";
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

bool WriteNew(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::string conf = "<no -conf>";
  for (int i = 1; i + 1 < __argc; ++i) {
    if (std::strcmp(__argv[i], "-conf") == 0) conf = ReadAll(__argv[i + 1]);
  }
  const std::string folder = OwnFolder();
  // A setting DOSBox would refuse is reported as DOSBox 0.74 does, in its
  // stdout.txt.
  if (conf.find("\r\nmachine=vgax\r\n") != std::string::npos) {
    const std::string report = "\"vgax\" is not a valid value for variable: machine.\r\n"
                               "It might now be reset it to default value: svga_s3\r\n";
    HANDLE out = CreateFileA((folder + "\\stdout.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(out, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    CloseHandle(out);
  }
  for (int call = 1; call < 100; ++call) {
    const std::string name = folder + "\\call-" + std::to_string(call);
    if (!WriteNew(name + ".conf", conf)) continue;
    char folder[MAX_PATH * 4] = "";
    GetCurrentDirectoryA(sizeof(folder), folder);
    WriteNew(name + ".cwd", folder);
    WriteNew(name + ".cmdline", GetCommandLineA());
    return 0;
  }
  return 1;
}
