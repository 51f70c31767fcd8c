#pragma once

#include <string>
#include <vector>

/// The help page "help.htm": beside the executable when a regular file is
/// there, else in the installation's data directory seen from the
/// executable's (InstalledDataDirectory), else in the data directory
/// compiled in; empty when none has it.
/// Only the type is looked at; the page is never opened.
std::string HelpPageFile();

/// HelpPageFile() for a program whose executable lies in
/// `executableDirectory`.
std::string HelpPageFileFor(const std::string& executableDirectory);

/// The first of `directories` that holds "help.htm" as a regular file (a
/// link to one counts), joined with the name; empty when none does.
std::string HelpPageFileIn(const std::vector<std::string>& directories);
