// Starting other programs. A command line is a program path plus one argument text, split into
// words by the Windows rules (quotes and backslashes) so companion programs see the same words on
// every platform. Nothing is ever run through a shell, except batch files (".bat", ".cmd", ".sh"),
// which go to the system's command interpreter.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace keep::platform {

// Splits an argument text into words as the Windows C runtime does: blanks and tabs separate words;
// "..." groups; 2n backslashes before a quote give n backslashes and the quote delimits; 2n+1
// backslashes before a quote give n backslashes and a literal quote; other backslashes are literal;
// "" inside quotes gives a literal quote and quoting goes on; an empty "" is an empty word. Any
// thread; never fails.
std::vector<std::string> SplitCommandLine(std::string_view text);

// The words the program was started with, after its own name, in UTF-8. On Windows the C runtime's
// argv is in the ANSI code page, which loses what it cannot hold; the words are split again from
// the wide command line. Elsewhere they are argv as is.
std::vector<std::string> ProgramArguments(int argc, char** argv);

struct StartOptions {
  bool wait = false;    // wait for the program to end (without time limit)
  bool hidden = false;  // no window (POSIX: standard input from /dev/null)
};

// Starts `program` (a path, not searched for) with the words of `arguments`; argv[0] is the path.
// A batch file runs as "/bin/sh <program> <words...>" and needs no execute permission. The program
// gets a process group of its own, no blocked or ignored signals, and the caller's environment.
// Every descriptor without close-on-exec is inherited: whoever opens one must set that flag.
// Without `wait` the call returns at once and the child is reaped when it ends (never a zombie
// left behind); with `wait` it blocks until the program ends. Either way true means it was started,
// whatever its exit status. False, and nothing started, when the program file does not exist, is
// not an executable regular file (readable, for a batch file), a word holds a NUL character, or the
// start fails. Any thread.
bool StartProgram(const std::string& program, std::string_view arguments, const StartOptions& options);

// The file of the program `base` (a '/'-separated path without extension, relative to some folder)
// as this system names it: "bin/notebox" stays as it is on POSIX and becomes "bin\\notebox.exe" on
// Windows. Pure; any thread.
std::string ProgramName(std::string_view base);

// The extension of the scripts the system's command interpreter runs, dot included: ".sh" (/bin/sh)
// on POSIX, ".bat" (cmd.exe) on Windows. A script the installation provides carries it.
std::string_view ScriptExtension();

// The file of the script `base` the same way, with ScriptExtension(): "script/system/lcldown.sh" on
// POSIX, "script\\system\\lcldown.bat" on Windows. Pure; any thread.
std::string ScriptName(std::string_view base);

}  // namespace keep::platform
