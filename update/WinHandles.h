// Owners for the Windows handles the updater opens, so that every early
// return releases what was acquired.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <memory>

namespace VULIBRARY {

struct InternetCloser {
  void operator()(void* handle) const noexcept { InternetCloseHandle(handle); }
};
using InternetHandle = std::unique_ptr<void, InternetCloser>;

struct LibraryFreer {
  void operator()(HMODULE module) const noexcept { FreeLibrary(module); }
};
using LibraryHandle = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryFreer>;

struct HandleCloser {
  void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using KernelHandle = std::unique_ptr<void, HandleCloser>;

// COM for the current thread, uninitialised again if this call initialised it.
class ComApartment {
 public:
  explicit ComApartment(DWORD model) : result_(CoInitializeEx(nullptr, model)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  HRESULT result_;
};

}  // namespace VULIBRARY
