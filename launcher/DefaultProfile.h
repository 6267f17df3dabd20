// defrc.xml, the template of every new game, written from the copy built
// into the program whenever it is missing.
#pragma once

#include <cstddef>
#include <string>

struct ProfileBytes {
  const char* data = nullptr;
  std::size_t size = 0;
};

// Where the built-in profile comes from: the program's resource on Windows;
// tests set their own.
using DefaultProfileSource = ProfileBytes (*)();
void SetDefaultProfileSource(DefaultProfileSource source);

// "<ProfileFolder>\defrc.xml".
std::string DefaultProfilePath();

// Writes the built-in profile to DefaultProfilePath() when that file cannot
// be opened for reading, byte for byte. Failures are silent: the next call
// tries again. The file is written beside its place and moved in, so that an
// interrupted write never leaves half a profile.
void EnsureDefaultProfile();
