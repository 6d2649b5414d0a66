// oempack: the builder on the command line.  Lists, appends and extracts the
// modules of an installer package.
#include <CLI/CLI.hpp>

#include <array>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "build.h"
#include "builder/code_pages.h"
#include "builder/predefined_modules.h"
#include "commands.h"
#include "console.h"
#include "host.h"
#include "manifest_example.h"
#ifdef _WIN32
#include "platform/win32/win32_text.h"
#endif

namespace {

using namespace brelvane;
using namespace brelvane::oempack;

struct GroupOptions {
  std::string source;
  std::string root;
  std::string attr = "normal";
};

void AddGroupOptions(CLI::App& command, const std::string& model, GroupOptions& group) {
  command.add_option("--" + model, group.source, "source file of the " + model + " module");
  command.add_option("--" + model + "-root", group.root,
                     "directory below the drive root it is extracted to (default: the root)");
  std::vector<std::string> words;
  for (const AttributeChoice& choice : kAttributeChoices) words.emplace_back(choice.word);
  std::string listed;
  for (const std::string& word : words) listed += (listed.empty() ? "" : "|") + word;
  command.add_option("--" + model + "-attr", group.attr, "attributes: " + listed)
      ->check(CLI::IsMember(words));
}

PredefinedGroup ToGroup(const GroupOptions& options) {
  return PredefinedGroup{options.source, options.root, AttributeChoiceOf(options.attr)};
}

// What the command line holds once parsed: the values its options fill in,
// and the subcommands, to tell which one it names.  The options point into
// it, so it stays where it is made.
struct CommandLine {
  std::string installer;
  bool json = false;
  std::string file;
  std::array<GroupOptions, kModelCount> groups;  // one for each model, in the catalogue's order
  std::string combined;
  std::string name, output;
  bool force = false;
  CLI::App* list = nullptr;
  CLI::App* verify = nullptr;
  CLI::App* add = nullptr;
  CLI::App* addPredef = nullptr;
  CLI::App* unsign = nullptr;
  CLI::App* repair = nullptr;
  CLI::App* extract = nullptr;
  std::string manifest, folder, other;
  bool check = false;
  bool modulesOnly = false;
  bool strict = false;
  std::string codePage = std::to_string(kDefaultCodePage);
  CLI::App* build = nullptr;
  CLI::App* describe = nullptr;
  CLI::App* diff = nullptr;
};

bool NoPredefinedSource(const CommandLine& line) {
  for (const GroupOptions& group : line.groups)
    if (!group.source.empty()) return false;
  return line.combined.empty();
}

// "--kestrin, --ovin, --pellor or --combined".
std::string PredefinedSourceOptions() {
  std::string options;
  for (const DriveModelRow& row : kDriveModels) options += "--" + std::string(row.set.key) + ", ";
  options.replace(options.size() - 2, 2, " or --combined");
  return options;
}

void IgnoreFileSizeSignal() {
#ifdef SIGXFSZ
  // A file-size limit is an ordinary write failure (EFBIG), which the
  // append rolls back and the extraction cleans up, not a killing signal.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

// "kestrin, ovin, pellor, ": the manifest's words for the models' sets.
std::string SetWords() {
  std::string words;
  for (const DriveModelRow& row : kDriveModels) words += std::string(row.set.key) + ", ";
  return words;
}

void DescribeProgram(CLI::App& app) {
  app.footer(
      "A FILE or NAME that begins with '-' follows \"--\", after every option: "
      "oempack extract INSTALLER -o OUT -- -NAME\n"
      "A signed installer is read as usual, but add and add-predef refuse it: unsign it, "
      "add, then sign it again.\n"
      "In a Windows program every byte behind the image must be a whole module: list and "
      "verify fail on stray bytes, the writers refuse them, and repair cuts them.\n"
      "build reads a TOML manifest: base = \"FILE\" (and base-sha256, code-page, a [sign] "
      "table), then one [[module]] table a module, in the order they are appended, with source, "
      "set (" +
      SetWords() +
      "combined; none: user-defined), folder, attributes and name; paths are relative to the "
      "manifest.\n"
      "Module names are stored in code page 1252 on every host, unless a manifest's code-page "
      "or --code-page names another.");
  app.set_version_flag("--version", "oempack " BRELVANE_VERSION);
  app.require_subcommand(1);
}

CLI::App* AddCommand(CLI::App& app, const std::string& name, const std::string& description,
                     CommandLine& line) {
  CLI::App* command = app.add_subcommand(name, description);
  command->add_option("INSTALLER", line.installer, "installer executable")->required();
  return command;
}

// A code page's number as the option gives it: decimal digits alone.
std::optional<unsigned> CodePageNumber(const std::string& text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + static_cast<unsigned>(c - '0');
  }
  if (!IsKnownCodePage(number)) return std::nullopt;
  return number;
}

// The code page the module names are stored in, for the commands that
// store or read them by name (a build's manifest names its own).
void AddCodePageOption(CLI::App& command, CommandLine& line) {
  command
      .add_option(
          "--code-page", line.codePage,
          "the code page of the modules' names: one of " + KnownCodePages() + " (default 1252)")
      ->check([](const std::string& text) -> std::string {
        return CodePageNumber(text) ? "" : "one of " + KnownCodePages();
      });
}

// The commands that only read: list and verify.
void AddReadCommands(CLI::App& app, CommandLine& line) {
  line.list = AddCommand(app, "list", "list the modules, newest first", line);
  line.list->add_flag("--json", line.json, "print the list as JSON");
  line.verify = AddCommand(app, "verify",
                           "check every module's content against the check its record carries; "
                           "the summary says whether the installer is signed",
                           line);
}

void AddAppendCommands(CLI::App& app, CommandLine& line) {
  line.add = AddCommand(app, "add", "append a user-defined module", line);
  line.add->add_option("FILE", line.file, "file to append")->required();
  AddCodePageOption(*line.add, line);
  std::string models;
  for (const DriveModelRow& row : kDriveModels) models += std::string(row.name) + ", ";
  line.addPredef =
      AddCommand(app, "add-predef", "append predefined modules: " + models + "combined", line);
  for (std::size_t i = 0; i < kModelCount; ++i)
    AddGroupOptions(*line.addPredef, kDriveModels[i].set.key, line.groups[i]);
  line.addPredef->add_option(
      "--combined", line.combined,
      std::string("source file of the ") + kCombinedSetDescription + " module");
  AddCodePageOption(*line.addPredef, line);
}

// The commands that cut an installer back: unsign and repair.
void AddCutCommands(CLI::App& app, CommandLine& line) {
  line.unsign = AddCommand(
      app, "unsign", "remove the signature (certificate table) so that modules can be added", line);
  line.repair = AddCommand(
      app, "repair",
      "cut stray bytes (what a killed add left behind its last whole module) back to the last "
      "whole module; shows what it cuts first",
      line);
}

void AddExtractCommand(CLI::App& app, CommandLine& line) {
  line.extract = AddCommand(app, "extract", "write the newest module of a name to a file", line);
  line.extract->add_option("NAME", line.name, "the module's file name, exactly")->required();
  line.extract->add_option("-o,--output", line.output, "file to write (default: NAME here)");
  line.extract->add_flag("--force", line.force, "replace an existing file, read-only or not");
  AddCodePageOption(*line.extract, line);
}

// The commands that work from a manifest (build.h): build, describe, diff.
void AddManifestCommands(CLI::App& app, CommandLine& line) {
  line.build = app.add_subcommand(
      "build", "build an installer from a manifest: the base and every module, in order");
  line.build->add_option("MANIFEST", line.manifest, "the manifest (TOML)")->required();
  line.build->add_option("-o,--output", line.output, "the installer to write");
  line.build->add_flag("--check", line.check,
                       "read the manifest and the sources and print what the installer would "
                       "hold; write nothing");
  line.build->add_flag("--strict", line.strict,
                       "fail when a module is one no install installs (a user-defined module, "
                       "the Kestrin+Ovin set): the installer would only carry it");
  line.build->footer(std::string("A worked example, for the three models and a readme:\n\n") +
                     kManifestExample +
                     "\nA [sign] table signs the installer before it takes its name; the "
                     "build then checks that it still holds exactly its modules and carries a "
                     "signature:\n"
                     "  [sign]\n"
                     "  command = [\"osslsigncode\", \"sign\", \"-pkcs11module\", "
                     "\"/usr/lib/x86_64-linux-gnu/opensc-pkcs11.so\", \"-key\", "
                     "\"pkcs11:object=signing\", \"-certs\", \"signing.pem\", \"-h\", "
                     "\"sha256\", \"-ts\", \"http://timestamp.example.com\", \"-in\", "
                     "\"{unsigned}\", \"-out\", \"{signed}\"]\n"
                     "{file} names the installer to a signer that signs in place "
                     "(signtool sign /fd sha256 /tr URL /td sha256 {file}).\n");
  line.describe = AddCommand(
      app, "describe",
      "write the installer's base, its modules' files and a manifest that builds it again", line);
  line.describe->add_option("--to", line.folder, "the folder to write them to")->required();
  AddCodePageOption(*line.describe, line);
  line.diff = AddCommand(app, "diff",
                         "whether the program image, the signature and the modules differ from "
                         "INSTALLER to OTHER, and which modules were added, removed or changed; "
                         "exit 0 only when all are the same",
                         line);
  line.diff->add_option("OTHER", line.other, "the installer to compare with")->required();
  line.diff->add_flag("--modules-only", line.modulesOnly,
                      "compare the modules alone (a signed build against an unsigned one)");
  AddCodePageOption(*line.diff, line);
}

// The arguments to parse: on Windows the paths as the wide command line
// holds them, in the UTF-8 the backend takes; elsewhere main's own.
class Arguments {
 public:
  Arguments(int argc, char** argv) : argc_(argc), argv_(argv) {
#ifdef _WIN32
    wide_ = win32text::Arguments();
    for (std::string& argument : wide_) pointers_.push_back(argument.data());
    pointers_.push_back(nullptr);
    if (!wide_.empty()) {
      argc_ = static_cast<int>(wide_.size());
      argv_ = pointers_.data();
    }
#endif
  }
  int argc() const { return argc_; }
  char** argv() const { return argv_; }

 private:
  int argc_;
  char** argv_;
#ifdef _WIN32
  std::vector<std::string> wide_;
  std::vector<char*> pointers_;
#endif
};

// Parses the command line; on a usage error or a request for help or the
// version, prints what CLI11 prints and gives the exit status.
std::optional<int> Parse(CLI::App& app, const CommandLine& line, const Arguments& arguments) {
  try {
    app.parse(arguments.argc(), arguments.argv());
    if (line.addPredef->parsed() && NoPredefinedSource(line)) {
      throw CLI::RequiredError("A source file (" + PredefinedSourceOptions() + ")");
    }
    if (line.build->parsed() && !line.check && line.output.empty()) {
      throw CLI::RequiredError("The installer to write (-o INSTALLER, or --check)");
    }
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? kExitOk : kExitUsage;
  }
  return std::nullopt;
}

// Runs the one command the command line names, on this machine.
int RunCommand(const CommandLine& line) {
  const auto host = MakeHost();
  const Platform hostPlatform = host->platform();
  // Names are stored and read in one code page, whichever host runs this.
  const unsigned codePage = CodePageNumber(line.codePage).value_or(kDefaultCodePage);
  CodePageSystem names(hostPlatform.system, codePage);
  const Platform platform{hostPlatform.files, names, hostPlatform.registry, hostPlatform.prompts};
  const Options options{StderrIsTerminal(), line.strict};
  if (line.list->parsed()) return ListModules(platform, line.installer, line.json);
  if (line.verify->parsed()) return VerifyModules(platform, line.installer);
  if (line.unsign->parsed()) return UnsignInstaller(platform, line.installer);
  if (line.repair->parsed()) return RepairInstaller(platform, line.installer);
  if (line.add->parsed()) return AddModule(platform, line.installer, line.file, options);
  if (line.addPredef->parsed()) {
    PredefinedRequest request;
    for (std::size_t i = 0; i < kModelCount; ++i) request.groups[i] = ToGroup(line.groups[i]);
    request.combinedSource = line.combined;
    return AddPredefined(platform, line.installer, request, options);
  }
  if (line.build->parsed()) {
    return BuildInstaller(platform, line.manifest, line.output, line.check, options);
  }
  if (line.describe->parsed())
    return DescribeInstaller(platform, line.installer, line.folder, codePage);
  if (line.diff->parsed())
    return DiffInstallers(platform, line.installer, line.other, line.modulesOnly);
  if (line.extract->parsed()) {
    return ExtractNamedModule(platform, line.installer, line.name, line.output, line.force,
                              options);
  }
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  IgnoreFileSizeSignal();
  CLI::App app{
      "oempack: lists, appends and extracts the modules of a Brelvane installer, and builds one "
      "from a manifest"};
  DescribeProgram(app);
  CommandLine line;
  AddReadCommands(app, line);
  AddAppendCommands(app, line);
  AddCutCommands(app, line);
  AddExtractCommand(app, line);
  AddManifestCommands(app, line);
  if (const std::optional<int> status = Parse(app, line, Arguments(argc, argv))) return *status;
  return RunCommand(line);
}
