#include "kdl/manual.h"

#include <sstream>

namespace kdlcli {
namespace {

// Text with the characters Markdown would take as markup escaped.
std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (std::string_view("\\`*_[]<>#|").find(c) != std::string_view::npos) out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

bool Visible(const CLI::Option* o) { return !o->get_group().empty(); }

// The options a command's section lists: its own, not the help options every command has.
bool OwnOption(const CLI::App& command, const CLI::Option* o) {
  return Visible(o) && !o->get_positional() && o != command.get_help_ptr() && o != command.get_help_all_ptr();
}

// "`-l`, `--label` *TEXT*" for an option; "*IMAGE*" for an operand.
std::string Term(const CLI::Option* o) {
  if (o->get_positional()) return "*" + Escaped(o->get_name(true)) + "*";
  std::string names = o->get_name(false, true);
  std::string term;
  std::stringstream split(names);
  for (std::string name; std::getline(split, name, ',');) term += (term.empty() ? "`" : ", `") + name + "`";
  const std::string type = o->get_type_name();
  if (o->get_expected_max() != 0 && !type.empty()) term += " *" + Escaped(type) + "*";
  return term;
}

std::string Synopsis(const CLI::App& command) {
  std::string line = "kdl " + command.get_name();
  if (!command.get_options([&](const CLI::Option* o) { return OwnOption(command, o); }).empty())
    line += " [*options*]";
  for (const CLI::Option* o : command.get_options([](const CLI::Option* o) { return o->get_positional(); })) {
    std::string operand = "*" + Escaped(o->get_name(true)) + "*";
    if (o->get_expected_max() > 1) operand += "...";
    line += " " + (o->get_required() ? operand : "[" + operand + "]");
  }
  return line;
}

void Definitions(std::ostringstream& out, const std::vector<const CLI::Option*>& options) {
  for (const CLI::Option* o : options) {
    if (!Visible(o)) continue;
    out << Term(o) << "\n:   " << Escaped(o->get_description()) << "\n\n";
  }
}

}  // namespace

std::string ManualReference(const CLI::App& app) {
  std::ostringstream out;
  out << "# OPTIONS\n\n";
  Definitions(out, app.get_options());
  out << "# COMMANDS\n\n";
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    out << "## " << Synopsis(*command) << "\n\n" << Escaped(command->get_description()) << "\n\n";
    Definitions(out, command->get_options([](const CLI::Option* o) { return o->get_positional(); }));
    Definitions(out, command->get_options([&](const CLI::Option* o) { return OwnOption(*command, o); }));
  }
  return out.str();
}

}  // namespace kdlcli
