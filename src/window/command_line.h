#pragma once

/// True when the command line (as GetCommandLineA gives it: the program's name, quoted or
/// not, then the arguments) holds the argument /S, in either case, among arguments
/// separated by spaces or tabs. Any other argument is ignored.
bool AsksForSilentRun(const char* command_line);
