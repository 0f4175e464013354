// kolt-headless: the machine without a window, driven by command-line options
// that act in the order given, like a script. See headless_usage() for the list.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// Runs the options; returns the process exit code (0 done, 1 a file or load
// failed, 2 bad usage). Messages go to `err`, requested output to `out`.
int run_headless(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

const char* headless_usage();
