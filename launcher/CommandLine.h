// What the program was asked to do on its command line: replay a menu
// command for an elevated copy, or one of the modes through which the shell,
// shortcuts and link files start it.
#pragma once

#include <string>

struct CommandLineRequest {
  enum Kind {
    None,      // open the main window as usual
    Replay,    // carry out menu command `command`, then end
    Run,       // -run: add and start the DOS program `argument`
    Shortcut,  // -shortcut: start the game named `argument` (or named by that link file)
    Conf,      // -conf: start DOSBox on the configuration file `argument`
    Import,    // -import: add the games found in the folder `argument`, save, end
  };
  Kind kind = None;
  int command = 0;
  std::string argument;
};

// Reads arguments 1 and 2 of a standard argument vector (argument 0 is the
// program). A first argument that reads as a non-zero decimal number, such as
// "195" (or "3dgame.exe", read as 3), asks for a replay. The modes need both
// arguments and are matched exactly, case included.
CommandLineRequest ReadCommandLine(int argc, const char* const* argv);

// The leading decimal number of text as the C library reads one (blanks, a
// sign, digits; 0 when there is none), held at the ends of int's range
// instead of overflowing.
int LeadingNumber(const char* text);
