#include "launcher/DefaultProfile.h"

#include <cstdio>

#include "launcher/Storage.h"
#include "xml/FileNames.h"
#include "xml/FileReplace.h"

namespace {

DefaultProfileSource g_source = nullptr;

bool WriteWhole(const std::string& path, const ProfileBytes& bytes) {
  std::string temp;
  std::FILE* file = xml_detail::OpenTempBeside(path, temp);
  if (!file) return false;
  const bool written = std::fwrite(bytes.data, 1, bytes.size, file) == bytes.size &&
                       xml_detail::FlushToDisk(file);
  const bool closed = std::fclose(file) == 0;
  if (written && closed && xml_detail::MoveOver(temp, path)) return true;
  RemoveFileUtf8(temp);
  return false;
}

}  // namespace

void SetDefaultProfileSource(DefaultProfileSource source) { g_source = source; }

std::string DefaultProfilePath() { return JoinPath(ProfileFolder, "defrc.xml"); }

void EnsureDefaultProfile() {
  const std::string path = DefaultProfilePath();
  if (CanOpenForReading(path) || !g_source) return;
  const ProfileBytes bytes = g_source();
  if (!bytes.data || bytes.size == 0) return;
  WriteWhole(path, bytes);
}
