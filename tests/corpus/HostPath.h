#pragma once

#include <string>

// The build passes Unix paths; a Windows build runs under Wine, where the Unix
// root is the Z: drive.
inline std::string HostPath(const char* unixPath) {
#ifdef _WIN32
  if (unixPath[0] == '/') return std::string("Z:") + unixPath;
#endif
  return unixPath;
}
