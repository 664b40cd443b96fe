#pragma once

#include <optional>

// Answers --help and --version before the window exists, so that both work without a
// display (help2man runs them at build time). Returns the exit status when one was asked
// for; anything else on the command line is left to the toolkit.
std::optional<int> answerInformationOptions(int argc, char *argv[]);
