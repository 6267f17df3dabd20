#include "launcher/window/ShellIntegration.h"

#include <shlobj.h>

#include <cwctype>
#include <string>

#include "launcher/ConfWriter.h"
#include "launcher/GameLaunch.h"
#include "launcher/GameSchema.h"
#include "launcher/ShellNames.h"
#include "launcher/Storage.h"
#include "launcher/window/Messages.h"
#include "launcher/window/PickPath.h"
#include "text/TextConvert.h"

namespace {

const wchar_t kVerbKey[] = L"\\shell\\Simulate with Vantle";

std::wstring ProgramPath() {
  wchar_t path[kPathBufferSize];
  const DWORD length = GetModuleFileNameW(nullptr, path, kPathBufferSize);
  return std::wstring(path, length < kPathBufferSize ? length : 0);
}

// The file type that extension names; type is empty when it names none. The
// result of opening the extension's key with full access.
LSTATUS ReadFileType(const char* extension, std::wstring& type) {
  type.clear();
  HKEY key;
  const LSTATUS opened =
      RegOpenKeyExW(HKEY_CLASSES_ROOT, WideFromUtf8(extension).c_str(), 0, KEY_ALL_ACCESS, &key);
  if (opened != ERROR_SUCCESS) return opened;
  wchar_t value[1000] = L"";
  DWORD size = sizeof(value) - sizeof(wchar_t);
  DWORD kind = REG_NONE;
  const LSTATUS status =
      RegQueryValueExW(key, nullptr, nullptr, &kind, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  if (status == ERROR_SUCCESS && kind == REG_SZ) type.assign(value, size / sizeof(wchar_t));
  while (!type.empty() && type.back() == L'\0') type.pop_back();
  return ERROR_SUCCESS;
}

// Creates (or opens) HKEY_CLASSES_ROOT\path and sets its default value.
bool SetClassValue(const std::wstring& path, const std::wstring& data) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  const LSTATUS status =
      RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                     static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

HWND OwnerOf(HWND list) { return list ? GetAncestor(list, GA_ROOT) : nullptr; }

bool IsFolder(const std::wstring& folder) {
  // Only an absolute path names the same folder whatever the current one is.
  const bool absolute = (folder.size() >= 2 && folder[1] == L':') ||
                        folder.compare(0, 2, L"\\\\") == 0;
  if (!absolute) return false;
  const DWORD attributes = GetFileAttributesW((folder + L"\\").c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

HRESULT SaveShortcut(const std::wstring& file, const std::wstring& arguments) {
  const std::wstring program = ProgramPath();
  // The wide interface keeps a name that is not in the ANSI code page intact
  // in the link; the narrow one would read its UTF-8 as ANSI.
  IShellLinkW* link = nullptr;
  HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    reinterpret_cast<void**>(&link));
  if (FAILED(result)) return result;
  link->SetPath(program.c_str());
  link->SetWorkingDirectory(WideFromUtf8(ProgramFolder).c_str());
  link->SetDescription(L"VTL Shortcut");
  link->SetArguments(arguments.c_str());
  link->SetIconLocation(program.c_str(), 0);
  IPersistFile* persist = nullptr;
  result = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist));
  if (SUCCEEDED(result)) {
    result = persist->Save(file.c_str(), TRUE);
    persist->Release();
  }
  link->Release();
  if (SUCCEEDED(result) && GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES)
    result = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  return result;
}

}  // namespace

namespace {

// Why the file type of extension could not be read, for the user.
std::wstring FileTypeProblem(const char* extension, LSTATUS opened) {
  const std::wstring name = WideFromUtf8(extension);
  if (opened == ERROR_FILE_NOT_FOUND) return L"this system has no file type for " + name + L" files";
  if (opened == ERROR_ACCESS_DENIED) return L"administrator rights are needed";
  if (opened == ERROR_SUCCESS) return L"the registry key of " + name + L" names no file type";
  return L"the registry key of " + name + L" cannot be changed: " + SystemMessage(HRESULT_FROM_WIN32(opened));
}

bool Fail(std::wstring* why, std::wstring reason) {
  if (why) *why = std::move(reason);
  return false;
}

}  // namespace

bool RegisterShellVerb(const char* extension, bool confForm, std::wstring* why) {
  std::wstring type;
  // A key without a type name would put the verb at the root of the classes.
  const LSTATUS opened = ReadFileType(extension, type);
  if (opened != ERROR_SUCCESS || type.empty()) return Fail(why, FileTypeProblem(extension, opened));
  const std::wstring command =
      WideFromUtf8(ShellVerbCommand(Utf8FromWide(ProgramPath()), confForm));
  const std::wstring key = type + kVerbKey + L"\\command";
  if (!SetClassValue(key, command))
    return Fail(why, L"the registry key HKEY_CLASSES_ROOT\\" + key + L" cannot be written");
  RegisterLinkFileType();
  return true;
}

bool RegisterShellVerbs(std::wstring* why, std::wstring* skipped) {
  // An extension the system has no file type for (a new Wine prefix has none
  // for .com and .bat) cannot carry a verb; the others still can, and the
  // user is told which were left out.
  std::wstring left;
  bool any = false;
  for (const char* extension : {".exe", ".com", ".bat"}) {
    std::wstring type;
    const LSTATUS opened = ReadFileType(extension, type);
    if (opened == ERROR_FILE_NOT_FOUND || (opened == ERROR_SUCCESS && type.empty())) {
      left += (left.empty() ? L"" : L", ") + WideFromUtf8(extension);
      continue;
    }
    if (!RegisterShellVerb(extension, false, why)) return false;
    any = true;
  }
  if (!any) return Fail(why, L"this system has no file type for .exe, .com or .bat files");
  RegisterShellVerb(".conf", true);
  if (skipped) *skipped = left;
  return true;
}

bool UnregisterShellVerb(const char* extension, std::wstring* why) {
  std::wstring type;
  const LSTATUS opened = ReadFileType(extension, type);
  // Without the extension or its type nothing can have been registered for
  // it; only a key that refuses full access is a failure (one that rights
  // would mend).
  if (opened == ERROR_FILE_NOT_FOUND || (opened == ERROR_SUCCESS && type.empty())) return true;
  if (opened != ERROR_SUCCESS) return Fail(why, FileTypeProblem(extension, opened));
  const std::wstring verb = type + kVerbKey;
  RegDeleteKeyW(HKEY_CLASSES_ROOT, (verb + L"\\command").c_str());
  RegDeleteKeyW(HKEY_CLASSES_ROOT, verb.c_str());
  return true;
}

bool UnregisterShellVerbs(std::wstring* why) {
  for (const char* extension : {".exe", ".com", ".bat", ".conf"})
    if (!UnregisterShellVerb(extension, why)) return false;
  return true;
}

void RegisterLinkFileType() {
  const std::string program = Utf8FromWide(ProgramPath());
  SetClassValue(L".vtl", L"VantleFile");
  SetClassValue(L"VantleFile", L"Vantle File");
  SetClassValue(L"VantleFile\\DefaultIcon", WideFromUtf8(program + ",0"));
  SetClassValue(L"VantleFile\\Shell\\open\\command", WideFromUtf8(LinkOpenCommand(program)));
}

namespace {

std::wstring Capitalized(std::wstring text) {
  if (!text.empty()) text[0] = static_cast<wchar_t>(towupper(text[0]));
  return text;
}

}  // namespace

bool RelaunchElevated(const char* parameters, std::wstring* why) {
  const std::wstring program = ProgramPath();
  const std::wstring wideParameters = WideFromUtf8(parameters);
  SHELLEXECUTEINFOW execute{};
  execute.cbSize = sizeof(execute);
  execute.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  execute.lpVerb = L"runas";
  execute.lpFile = program.c_str();
  execute.lpParameters = wideParameters.c_str();
  execute.nShow = SW_SHOWNORMAL;
  if (ShellExecuteExW(&execute)) return true;
  const DWORD error = GetLastError();
  return Fail(why, error == ERROR_CANCELLED
                       ? L"administrator rights are needed and were not given"
                       : L"administrator rights are needed, and Vantle could not be started with them: " +
                             SystemMessage(HRESULT_FROM_WIN32(error)));
}

void ChangeShellVerbs(HWND owner, bool add, bool elevated) {
  std::wstring why, skipped;
  const bool done = add ? RegisterShellVerbs(&why, &skipped) : UnregisterShellVerbs(&why);
  // Most failures are a matter of rights: a copy that has them carries the
  // command out and tells the user itself.
  if (!done && !elevated && RelaunchElevated(add ? "192" : "195", &why)) return;
  if (done) {
    std::wstring text = add ? L"\"Simulate with Vantle\" is now on the right-click menu of DOS programs."
                            : L"\"Simulate with Vantle\" was removed from the right-click menu.";
    if (!skipped.empty())
      text += L"\r\n\r\nLeft out, because this system has no file type for them: " + skipped + L".";
    Tell(owner, text, MB_ICONINFORMATION);
    return;
  }
  Tell(owner,
       std::wstring(add ? L"\"Simulate with Vantle\" could not be added to the right-click menu:\r\n"
                        : L"\"Simulate with Vantle\" could not be removed from the right-click menu:\r\n") +
           Capitalized(why) + L".",
       MB_ICONERROR);
}

void CreateGameShortcut(HWND list, int index) {
  XmlElement* entry = ListItemEntry(list, index);
  if (!entry) return;
  XmlElement* main = Section(entry, "Main");
  const std::string name = AttributeText(main, "Name");
  const std::wstring runFolder = WideFromUtf8(FolderOfRunPath(AttributeText(main, "Run")));

  std::wstring folder = runFolder;
  const bool onDesktop = !IsFolder(runFolder);
  if (onDesktop) {
    // The program's folder is often a path inside DOSBox's drives.
    wchar_t desktop[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop);
    folder = desktop;
  }
  const std::wstring file = folder + L"\\" + WideFromUtf8(FileNameStem(name)) + L".lnk";
  const HRESULT result =
      folder.empty() ? HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)
                     : SaveShortcut(file, WideFromUtf8("-shortcut " + QuoteArgument(name)));

  HWND owner = OwnerOf(list);
  if (FAILED(result)) {
    Tell(owner, L"The shortcut could not be written to\r\n" + file + L"\r\n\r\n" + SystemMessage(result),
         MB_ICONERROR);
  } else if (onDesktop) {
    std::wstring text = L"The shortcut was written to the desktop:\r\n" + file;
    if (!runFolder.empty())
      text += L"\r\n\r\nThe folder of the game's program, " + runFolder + L", does not exist here.";
    Tell(owner, text, MB_ICONINFORMATION);
  } else {
    Tell(owner, L"The shortcut was written to\r\n" + file, MB_ICONINFORMATION);
  }
}

void SaveConfFile(HWND list, int index) {
  HWND owner = OwnerOf(list);
  XmlElement* entry = nullptr;
  std::string proposed, startFolder;
  if (index >= 0) {
    entry = ListItemEntry(list, index);
    if (!entry) return;
    XmlElement* main = Section(entry, "Main");
    const std::string run = AttributeText(main, "Run");
    proposed = FileNameStem(AttributeText(main, "Name")) + ".conf";
    startFolder = FolderOfRunPath(run);
  } else {
    // The program names the file and its folder; the settings are the
    // default profile's.
    std::string program;
    if (!PickProgramFile(owner, nullptr, std::string(), program)) return;
    startFolder = FolderOfRunPath(program);
    std::string stem = program.substr(program.rfind('\\') + 1);
    stem = stem.substr(0, stem.rfind('.'));
    proposed = stem + ".conf";
  }

  std::string chosen;
  if (!PickConfSaveFile(owner, proposed, startFolder, chosen)) return;
  const std::wstring wide = WideFromUtf8(chosen);
  DeleteFileW(wide.c_str());
  // Without a program the file ends after the pre-commands, which is all
  // there is to write.
  const ConfWritten written = WriteDosBoxConfFile(entry, chosen, LaunchMode::Run);
  if (written == ConfWritten::Failed) {
    const DWORD error = GetLastError();
    // Half a configuration would start DOSBox wrongly; none is better.
    DeleteFileW(wide.c_str());
    Tell(owner,
         L"The configuration could not be written to\r\n" + wide +
             (error ? L"\r\n\r\n" + SystemMessage(HRESULT_FROM_WIN32(error)) : std::wstring()),
         MB_ICONERROR);
  }
}
