#pragma once
#include <stdint.h>

#include "platform/text.h"

/// True when the command line (as GetCommandLineA gives it: the program's name, quoted or
/// not, then the arguments) holds the argument /S, in either case, among arguments
/// separated by spaces or tabs. Any other argument is ignored.
bool AsksForSilentRun(const char* command_line);

/// The per-user setup entry's commands, switches of the sign-in program (tvluser.exe): the
/// user's part of the installation, or of the removal, for the user signing in.
enum class SignInCommand { kNone, kAddToUser, kRemoveFromUser };

/// The switch "/AddToUser" or "/RemoveFromUser" (in either case) among the arguments of
/// `command_line`, and in *slots the slots (bit n: slot n) whose layout identifiers
/// ("E02n0804", in either case) follow it as arguments of their own; other arguments are
/// ignored. kNone, with *slots 0, when neither switch is there.
SignInCommand AsksForSignInCommand(const Text& command_line, uint32_t* slots);

/// The arguments that ask for `command` for `slots`, each after one space:
/// " /AddToUser E0210804". Nothing for kNone.
Text SignInArguments(SignInCommand command, uint32_t slots);
