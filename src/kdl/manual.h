// The reference part of the kdl(1) manual page, made from the same command definitions as --help, so that
// the two cannot drift apart: Markdown for pandoc's man writer.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace kdlcli {

// The OPTIONS and COMMANDS sections: the program's own options, then every command with its synopsis, its
// description, its operands and its options.
std::string ManualReference(const CLI::App& app);

}  // namespace kdlcli
