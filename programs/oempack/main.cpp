// oempack: the builder on the command line.  Lists, appends and extracts the
// modules of an installer package.
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "builder/predefined_modules.h"
#include "commands.h"
#include "console.h"
#include "host.h"
#ifdef _WIN32
#include "platform/win32/win32_text.h"
#endif

namespace {

using namespace brelvane;
using namespace brelvane::oempack;

const std::map<std::string, int> kAttributeChoices = {
    {"normal", 0}, {"ronly", 1}, {"hidden", 2}, {"rh", 3}};

struct GroupOptions {
  std::string source;
  std::string root;
  std::string attr = "normal";
};

void AddGroupOptions(CLI::App& command, const std::string& model, GroupOptions& group) {
  command.add_option("--" + model, group.source, "source file of the " + model + " module");
  command.add_option("--" + model + "-root", group.root,
                     "directory below the drive root it is extracted to (default: the root)");
  command.add_option("--" + model + "-attr", group.attr, "attributes: normal|ronly|hidden|rh")
      ->check(CLI::IsMember({"normal", "ronly", "hidden", "rh"}));
}

PredefinedGroup ToGroup(const GroupOptions& options) {
  return PredefinedGroup{options.source, options.root, kAttributeChoices.at(options.attr)};
}

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGXFSZ
  // A file-size limit is an ordinary write failure (EFBIG), which the
  // append rolls back and the extraction cleans up, not a killing signal.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  CLI::App app{"oempack: lists, appends and extracts the modules of a Brelvane installer"};
  app.footer(
      "A FILE or NAME that begins with '-' follows \"--\", after every option: "
      "oempack extract INSTALLER -o OUT -- -NAME\n"
      "A signed installer is read as usual, but add and add-predef refuse it: unsign it, "
      "add, then sign it again.\n"
      "In a Windows program every byte behind the image must be a whole module: list and "
      "verify fail on stray bytes, the writers refuse them, and repair cuts them.");
  app.set_version_flag("--version", "oempack " BRELVANE_VERSION);
  app.require_subcommand(1);

  std::string installer;
  bool json = false;
  CLI::App* list = app.add_subcommand("list", "list the modules, newest first");
  list->add_option("INSTALLER", installer, "installer executable")->required();
  list->add_flag("--json", json, "print the list as JSON");

  CLI::App* verify =
      app.add_subcommand("verify",
                         "check every module's content against the check its record carries; "
                         "the summary says whether the installer is signed");
  verify->add_option("INSTALLER", installer, "installer executable")->required();

  std::string file;
  CLI::App* add = app.add_subcommand("add", "append a user-defined module");
  add->add_option("INSTALLER", installer, "installer executable")->required();
  add->add_option("FILE", file, "file to append")->required();

  GroupOptions kestrin, ovin, pellor;
  std::string combined;
  CLI::App* addPredef = app.add_subcommand(
      "add-predef", "append predefined modules: Kestrin, Ovin, Pellor, combined");
  addPredef->add_option("INSTALLER", installer, "installer executable")->required();
  AddGroupOptions(*addPredef, "kestrin", kestrin);
  AddGroupOptions(*addPredef, "ovin", ovin);
  AddGroupOptions(*addPredef, "pellor", pellor);
  addPredef->add_option("--combined", combined, "source file of the Kestrin+Ovin module");

  CLI::App* unsign = app.add_subcommand(
      "unsign", "remove the signature (certificate table) so that modules can be added");
  unsign->add_option("INSTALLER", installer, "installer executable")->required();

  CLI::App* repair = app.add_subcommand(
      "repair",
      "cut stray bytes (what a killed add left behind its last whole module) back to the last "
      "whole module; shows what it cuts first");
  repair->add_option("INSTALLER", installer, "installer executable")->required();

  std::string name, output;
  bool force = false;
  CLI::App* extract = app.add_subcommand("extract", "write the newest module of a name to a file");
  extract->add_option("INSTALLER", installer, "installer executable")->required();
  extract->add_option("NAME", name, "the module's file name, exactly")->required();
  extract->add_option("-o,--output", output, "file to write (default: NAME here)");
  extract->add_flag("--force", force, "replace an existing file, read-only or not");

#ifdef _WIN32
  // Paths as the wide command line holds them, in the UTF-8 the backend takes.
  std::vector<std::string> arguments = win32text::Arguments();
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  if (!arguments.empty()) {
    argc = static_cast<int>(arguments.size());
    argv = pointers.data();
  }
#endif
  try {
    app.parse(argc, argv);
    if (addPredef->parsed() && kestrin.source.empty() && ovin.source.empty() &&
        pellor.source.empty() && combined.empty()) {
      throw CLI::RequiredError("A source file (--kestrin, --ovin, --pellor or --combined)");
    }
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? kExitOk : kExitUsage;
  }

  const auto host = MakeHost();
  const Platform platform = host->platform();
  const Options options{StderrIsTerminal()};
  if (list->parsed()) return ListModules(platform, installer, json);
  if (verify->parsed()) return VerifyModules(platform, installer);
  if (unsign->parsed()) return UnsignInstaller(platform, installer);
  if (repair->parsed()) return RepairInstaller(platform, installer);
  if (add->parsed()) return AddModule(platform, installer, file, options);
  if (addPredef->parsed()) {
    const PredefinedRequest request{ToGroup(kestrin), ToGroup(ovin), ToGroup(pellor), combined};
    return AddPredefined(platform, installer, request, options);
  }
  if (extract->parsed())
    return ExtractNamedModule(platform, installer, name, output, force, options);
  return kExitUsage;
}
