// The program in the Windows shell: the right-click verb on DOS programs and
// configuration files, the ".vtl" link file type, shortcuts to games and
// exported DOSBox configurations. Commands of the main window.
#pragma once

#include <windows.h>

#include <string>

// Adds "Simulate with Vantle" to the file type that extension (".exe") names,
// its command starting this program with -run (or -conf in the conf form) on
// the file, and registers the link file type. False when the extension's key
// cannot be opened with full access (no administrator rights), names no file
// type, or the verb's keys cannot be made; why then says which, as a sentence
// without its full stop.
bool RegisterShellVerb(const char* extension, bool confForm, std::wstring* why = nullptr);

// The verb for ".exe", ".com" and ".bat", stopping at the first failure with
// false; those the system has no file type for are left out and named in
// skipped (false when none has one). Then for ".conf", whose result does not
// count (not every system has a type for it).
bool RegisterShellVerbs(std::wstring* why = nullptr, std::wstring* skipped = nullptr);

// Removes the verb from the file type of extension; a verb that is not there,
// and an extension that does not exist, is no failure. False only when the
// extension's key is there but cannot be opened with full access.
bool UnregisterShellVerb(const char* extension, std::wstring* why = nullptr);

// ".exe", ".com", ".bat", ".conf" in turn, stopping at the first failure.
bool UnregisterShellVerbs(std::wstring* why = nullptr);

// ".vtl" as "VantleFile", opened by this program with -shortcut. It stays
// when the verbs are removed.
void RegisterLinkFileType();

// Starts this program again with administrator rights ("runas") and
// parameters, without waiting for it. False, with the reason in why, when no
// copy was started (the user declined).
bool RelaunchElevated(const char* parameters, std::wstring* why = nullptr);

// Commands 192 (add) and 195 (remove): changes the right-click verbs and
// tells the user what was done or why not. When the registry refuses, an
// elevated copy (not for a command that is itself the elevated copy's)
// carries it out and tells the user instead.
void ChangeShellVerbs(HWND owner, bool add, bool elevated);

// Writes "<name>.lnk", which starts the game of list item index through this
// program, into the folder of the game's program; when that folder does not
// exist on this system, onto the desktop. Tells the user where it went, or
// why it could not be written.
void CreateGameShortcut(HWND list, int index);

// Asks where to save a DOSBox configuration and writes it: the one of list
// item index, or with index -1 the default profile's, named after a DOS
// program the user picks first.
void SaveConfFile(HWND list, int index);
