// The texts the program hands to the Windows shell: the commands registered
// for the right-click menu and the ".vtl" type, the arguments of a game's
// shortcut, and file names made from game names.
#pragma once

#include <string>

// The folder part of a game's Run path: everything before its last
// backslash, or the whole text when it has none.
std::string FolderOfRunPath(const std::string& run);

// name as the stem of a file name (UTF-8): every character that cannot stand
// in a Windows file name (\ / : * ? " < > | and control characters) becomes
// "_", trailing blanks and dots (which Windows drops) go, a device name such
// as "CON" or "LPT1" (with any extension) gets a "_" after it, and an empty result is "Game". The
// file then lies in the folder it was meant for, under a recognisable name.
std::string FileNameStem(const std::string& name);

// argument quoted so that the C runtime's command-line parser gives it back
// unchanged as one argument: enclosed in double quotes, a quote inside it
// written \" and the backslashes before a quote (or the closing one)
// doubled. "New Game" becomes "\"New Game\"".
std::string QuoteArgument(const std::string& argument);

// The command of the right-click verb: the program path in double quotes (so
// that a blank in its folder cannot start another program), then
// -conf "%1" for configuration files or -run "%1" for DOS programs.
std::string ShellVerbCommand(const std::string& programPath, bool confForm);

// The open command of the ".vtl" type: the quoted program path, then
// -shortcut "%1".
std::string LinkOpenCommand(const std::string& programPath);
