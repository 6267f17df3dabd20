#include "launcher/window/NewGameWizard.h"

#include <string>

#include "launcher/DefaultProfile.h"
#include "launcher/EngineList.h"
#include "launcher/GameLaunch.h"
#include "launcher/GameSchema.h"
#include "launcher/LaunchThreads.h"
#include "launcher/NewGameEntry.h"
#include "launcher/Storage.h"
#include "launcher/window/GameList.h"
#include "launcher/window/PickPath.h"
#include "resource.h"
#include "text/AnsiText.h"
#include "text/TextConvert.h"

namespace {

constexpr int kFieldCharacters = 999;

const wchar_t kNoDriveLetter[] =
    L"DOSBox can only mount a drive that has a letter. Please choose a program on a drive "
    L"such as C: (a network folder can be given a drive letter first).";

void Tell(HWND owner, const wchar_t* text) { MessageBoxW(owner, text, L"Vantle", MB_OK); }

std::string FieldText(HWND dialog, int id) {
  wchar_t text[kFieldCharacters + 1] = L"";
  GetWindowTextW(GetDlgItem(dialog, id), text, kFieldCharacters + 1);
  return Utf8FromWide(text);
}

// Asks for a program for field; false (the wizard stays open) when the user
// cancels or picks a program that has no drive letter to mount.
bool PickMountableProgram(HWND dialog, const wchar_t* title, std::string& field) {
  std::string chosen;
  if (!PickProgramFile(dialog, title, std::string(), chosen)) return false;
  if (!DriveLetterOf(chosen)) {
    Tell(dialog, kNoDriveLetter);
    return false;
  }
  field = chosen;
  return true;
}

// Fills in the program paths the mode asks for; false when the wizard is to
// stay open.
bool AskForPrograms(HWND dialog, NewGameAnswers& answers) {
  switch (answers.mode) {
    case MountMode::Manual:
      return MessageBoxW(dialog,
                         L"You have selected manual mounting. You cannot setup executable/installer "
                         L"at this point (you will be able to setup them later).\r\n\r\n"
                         L"Press Yes to continue.\r\nPress No to retry.",
                         L"Vantle", MB_YESNO) == IDYES;
    case MountMode::Disk:
      if (!PresetExecutable.empty()) {
        answers.executable = PresetExecutable;  // from the command line
        if (DriveLetterOf(answers.executable)) return true;
        Tell(dialog, kNoDriveLetter);
        return false;
      }
      return PickMountableProgram(dialog, L"Select Executable", answers.executable);
    case MountMode::Floppy:
    case MountMode::CD:
      if (!PickMountableProgram(dialog, L"Select Installer", answers.installer)) return false;
      Tell(dialog, L"You have to create the game executable entry as soon as the game is installed.");
      return true;
  }
  return false;
}

void OnInitDialog(HWND dialog) {
  CheckDlgButton(dialog, IDC_NEW_CD, BST_CHECKED);
  CheckDlgButton(dialog, IDC_NEW_PICK_FILES, BST_CHECKED);
  HWND categories = GetDlgItem(dialog, IDC_NEW_CATEGORY);
  for (const char* name : CategoryList)
    SendMessageW(categories, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(name).c_str()));
  // The control sorts; "No Category" is at position 3 of the sorted names.
  SendMessageW(categories, CB_SETCURSEL,
               SendMessageW(categories, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                            reinterpret_cast<LPARAM>(L"No Category")),
               0);
  if (!PresetExecutable.empty()) PostMessageW(dialog, WM_COMMAND, IDOK, 0);
}

void OnOk(HWND dialog) {
  EnsureDefaultProfile();
  XmlDocument profile(DefaultProfilePath().c_str());
  XmlElement* templateEntry = TemplateEntry(profile);
  if (!templateEntry) {
    Tell(dialog, L"The default profile for new games (defrc.xml) cannot be read.");
    return;
  }
  NewGameAnswers answers;
  answers.name = FieldText(dialog, IDC_NEW_NAME);
  answers.description = FieldText(dialog, IDC_NEW_DESCRIPTION);
  answers.category = FieldText(dialog, IDC_NEW_CATEGORY);
  answers.mode = DecideMountMode(!PresetExecutable.empty(), IsDlgButtonChecked(dialog, IDC_NEW_ON_DISK),
                                 IsDlgButtonChecked(dialog, IDC_NEW_CD),
                                 IsDlgButtonChecked(dialog, IDC_NEW_FLOPPY));
  answers.systemDrive = SystemDriveLetter();
  if (IsDlgButtonChecked(dialog, IDC_NEW_PICK_FILES) && !AskForPrograms(dialog, answers)) return;

  std::unique_ptr<XmlElement> entry = MakeNewGameEntry(*templateEntry, answers);
  // New games run on the engine chosen for them in Options; without one they
  // stay exactly as before, on the DOSBOX.EXE beside the program.
  const std::string engine = ReadEngineList(EngineListPath()).defaultName;
  if (!engine.empty()) SetAttributeText(Section(entry.get(), "Main"), "Engine", engine.c_str());
  if (!PresetExecutable.empty()) {
    // Started from the shell on a program: run it, never store it.
    RunGame(GameListWindow, -1, LaunchMode::Run, entry.get());
    FinishLaunches();
    ExitProcess(0);
  }
  const XmlElement* added = entry.get();
  GamesOf(*GameDatabase)->AddChild(std::move(entry));
  SaveGameDatabase();
  FillGameList(GameListWindow);
  SelectGameEntry(GameListWindow, added);
  EndDialog(dialog, IDOK);
}

}  // namespace

INT_PTR CALLBACK NewGameWizard(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(dialog);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) OnOk(dialog);
      if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, IDCANCEL);
      return TRUE;
    case WM_CLOSE:
      EndDialog(dialog, IDCANCEL);
      return TRUE;
  }
  return FALSE;
}

char SystemDriveLetter() {
  wchar_t folder[MAX_PATH] = L"";
  GetWindowsDirectoryW(folder, MAX_PATH);
  const char letter = DriveLetterOf(Utf8FromWide(folder));
  return letter ? letter : 'C';
}

void OpenNewGameWizard(HWND owner) {
  DialogBoxParamW(GetModuleHandleW(nullptr), L"DIALOG_NEW", owner, NewGameWizard, 0);
}
