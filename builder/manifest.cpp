#include "builder/manifest.h"

#include <toml++/toml.h>

#include <cctype>
#include <cstdio>
#include <string_view>
#include <vector>

#include "builder/code_pages.h"
#include "builder/predefined_modules.h"
#include "common/path_text.h"
#include "platform/utf8.h"

namespace brelvane {
namespace {

// The attribute words of add-predef's --*-attr options.
constexpr const char* kCombinedWord = "combined";
// The most parts a dotted key has, far beyond any manifest's own.
constexpr int kMostKeyParts = 64;
// The largest manifest read: far beyond any real one, and a bound on memory.
constexpr std::int64_t kLargestManifest = 1 << 20;

ManifestPlace PlaceOf(const toml::source_region& region) {
  return {static_cast<int>(region.begin.line), static_cast<int>(region.begin.column)};
}

struct Fault {
  ManifestFault fault;
};

[[noreturn]] void Refuse(const toml::source_region& region, std::string message) {
  throw Fault{{PlaceOf(region), std::move(message)}};
}

// The manifest's own bytes, read through the seam; a fault when they
// cannot be had.
std::variant<std::string, ManifestFault> ReadWhole(const Platform& platform,
                                                   const std::string& path) {
  FileSystem& files = platform.files;
  const ManifestFault unreadable{{0, 0}, "cannot read the manifest"};
  ScopedFile file(files, files.OpenRead(path));
  if (!file.valid()) return unreadable;
  const std::int64_t length = files.Length(file.get());
  if (length < 0) return unreadable;
  if (length > kLargestManifest) {
    return ManifestFault{{0, 0},
                         "the manifest is " + std::to_string(length) +
                             " bytes; a manifest may hold at most " +
                             std::to_string(kLargestManifest) + " bytes"};
  }
  std::string bytes(static_cast<std::size_t>(length), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::int64_t got = files.Read(file.get(), bytes.data() + done, bytes.size() - done);
    if (got <= 0) return unreadable;
    done += static_cast<std::size_t>(got);
  }
  return bytes;
}

// Whether a table header that begins at `text[0]` ('[') names a key: its
// first character after "[" or "[[" and blanks is one a key can begin with.
// (The library's own check of this is an assertion.)  The column of the
// offending character, or nothing.
std::optional<int> HeaderProblem(std::string_view text) {
  std::size_t at = text.starts_with("[[") ? 2 : 1;
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  const char c = at < text.size() ? text[at] : '\n';
  const bool bare = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '-';
  if (bare || c == '"' || c == '\'') return std::nullopt;
  return static_cast<int>(at);
}

// The manifest as the TOML library reads it: ASCII only, since the
// library's tables mishandle some characters beyond it (an unreachable
// point, an assertion), and its error paths read on past where a scan can
// follow its state.  Each character beyond ASCII in a "..." string becomes
// its \u escape, which means the same; in a comment a '_'.  Refused, at
// their place: bytes that are no UTF-8, a character beyond ASCII outside a
// string or a comment (TOML has none there) or in a '...' string (which has
// no escapes), an escape of one, a key of more than kMostKeyParts parts (the
// library's stack grows with each), a table header that names no key, and a
// '}' where an array's value belongs (the library's own check of these two
// is an assertion).
struct AsciiForm {
  std::string text;
  // For each line, the manifest's column of each byte of `text` there, so
  // that a place the library names is the manifest's.
  std::vector<std::vector<int>> columns;
};

std::string EscapeOf(char32_t code) {
  char escape[16];
  if (code <= 0xFFFF) {
    std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(code));
  } else {
    std::snprintf(escape, sizeof escape, "\\U%08X", static_cast<unsigned>(code));
  }
  return escape;
}

// The scan behind AsciiFormOf: where it is in the TOML text, and what it has
// written of the ASCII form.
class AsciiScan {
 public:
  explicit AsciiScan(std::string_view text) : text_(text) { form_.columns.emplace_back(); }

  std::variant<AsciiForm, ManifestFault> Run() {
    while (at_ < text_.size()) {
      char32_t code = 0;
      const std::size_t length = Utf8SequenceAt(text_, at_, &code);
      if (length == 0) return Fault(0, "the manifest is not UTF-8 text here");
      std::optional<ManifestFault> fault =
          length > 1 ? BeyondAscii(code, length) : AsciiCharacter();
      if (fault) return std::move(*fault);
    }
    return std::move(form_);
  }

 private:
  enum class In { Plain, Comment, Basic, Literal, MultiBasic, MultiLiteral };

  ManifestFault Fault(int offset, std::string words) const {
    return ManifestFault{{line_, column_ + offset}, std::move(words)};
  }

  void Emit(std::string_view bytes) {
    form_.text += bytes;
    form_.columns.back().insert(form_.columns.back().end(), bytes.size(), column_);
  }

  // One character beyond ASCII: escaped in a "..." string, '_' in a
  // comment, refused elsewhere.
  std::optional<ManifestFault> BeyondAscii(char32_t code, std::size_t length) {
    switch (in_) {
      case In::Plain: return Fault(0, "a character beyond ASCII outside a string or a comment");
      case In::Literal:
      case In::MultiLiteral:
        return Fault(0,
                     "a character beyond ASCII in a '...' string: write the string in double "
                     "quotes");
      case In::Comment: Emit("_"); break;
      case In::Basic:
      case In::MultiBasic: Emit(EscapeOf(code)); break;
    }
    at_ += length;
    ++column_;
    return std::nullopt;
  }

  // What the library asserts on rather than reports, outside strings: a
  // key of too many parts, an array closed by '}', a header naming no key.
  std::optional<ManifestFault> PlainProblem(char c, std::string_view rest) {
    // The library follows a dotted key part by part, as deep as its stack.
    // A value's dots (a float, a time) end at the next ',' or line.
    if (c == '=' || c == ',') dots_ = 0;
    if (c == '.' && ++dots_ > kMostKeyParts) {
      return Fault(0, "a key of more than " + std::to_string(kMostKeyParts) + " parts");
    }
    if (c == '}' && !open_.empty() && open_.back() == '[') {
      return Fault(0, "an array ends with ']', not '}'");
    }
    if ((c == '[' || c == '{') && (!lineStart_ || !open_.empty())) open_ += c;
    if ((c == ']' || c == '}') && !open_.empty()) open_.pop_back();
    if (lineStart_ && open_.empty() && c == '[') {
      if (const std::optional<int> offset = HeaderProblem(rest)) {
        return Fault(*offset, "a table's name begins with a letter, a digit, '_', '-' or a quote");
      }
    }
    lineStart_ = c == '\n' || ((c == ' ' || c == '\t') && lineStart_);
    return std::nullopt;
  }

  // Where the character at `rest` leads the scan; how many bytes it takes.
  std::size_t Follow(char c, std::string_view rest, bool escape) {
    switch (in_) {
      case In::Plain:
        if (rest.starts_with("\"\"\"")) return in_ = In::MultiBasic, 3;
        if (rest.starts_with("'''")) return in_ = In::MultiLiteral, 3;
        if (c == '"') in_ = In::Basic;
        else if (c == '\'') in_ = In::Literal;
        else if (c == '#') in_ = In::Comment;
        return 1;
      case In::Comment:
        if (c == '\n') in_ = In::Plain, lineStart_ = true;
        return 1;
      case In::Basic:
        if (escape) return 2;
        if (c == '"' || c == '\n') in_ = In::Plain;
        return 1;
      case In::Literal:
        if (c == '\'' || c == '\n') in_ = In::Plain;
        return 1;
      case In::MultiBasic:
        if (escape) return 2;
        if (rest.starts_with("\"\"\"")) return in_ = In::Plain, 3;
        return 1;
      case In::MultiLiteral:
        if (rest.starts_with("'''")) return in_ = In::Plain, 3;
        return 1;
    }
    return 1;
  }

  std::optional<ManifestFault> AsciiCharacter() {
    const std::string_view rest = text_.substr(at_);
    const char c = text_[at_];
    if (in_ == In::Plain) {
      if (std::optional<ManifestFault> fault = PlainProblem(c, rest)) return fault;
    }
    const bool escape = (in_ == In::Basic || in_ == In::MultiBasic) && c == '\\' &&
                        rest.size() > 1 && rest[1] != '\n' && rest[1] != '\r';
    if (escape && static_cast<unsigned char>(rest[1]) >= 0x80) {
      return Fault(1, "an escape is '\\' and an ASCII letter");
    }
    const std::size_t step = Follow(c, rest, escape);
    for (std::size_t i = 0; i < step && at_ < text_.size(); ++i, ++at_) {
      Emit(text_.substr(at_, 1));
      if (text_[at_] == '\n') {
        ++line_;
        column_ = 1;
        dots_ = 0;
        form_.columns.emplace_back();
      } else {
        ++column_;
      }
    }
    return std::nullopt;
  }

  std::string_view text_;
  std::size_t at_ = 0;
  In in_ = In::Plain;
  AsciiForm form_;
  int line_ = 1;
  int column_ = 1;
  bool lineStart_ = true;  // only blanks so far on this line, outside any string
  std::string open_;       // the '[' and '{' of the values open here, innermost last
  int dots_ = 0;           // outside strings: the parts of the dotted key so far
};

std::variant<AsciiForm, ManifestFault> AsciiFormOf(std::string_view text) {
  return AsciiScan(text).Run();
}

// A place the library names in the ASCII form, as the manifest's.
ManifestPlace ManifestPlaceOf(const AsciiForm& form, ManifestPlace place) {
  if (place.line < 1 || static_cast<std::size_t>(place.line) > form.columns.size()) return place;
  const std::vector<int>& columns = form.columns[static_cast<std::size_t>(place.line - 1)];
  if (place.column >= 1 && static_cast<std::size_t>(place.column) <= columns.size()) {
    place.column = columns[static_cast<std::size_t>(place.column - 1)];
  } else if (!columns.empty()) {
    place.column = columns.back() + 1;  // past the line's end
  }
  return place;
}

bool IsAbsolute(const std::string& path) {
  if (path.empty()) return false;
  if (path[0] == '/' || path[0] == '\\') return true;
  return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

// A path of the manifest taken from the manifest's folder.
std::string FromManifestFolder(const std::string& manifestPath, const std::string& path) {
  if (IsAbsolute(path)) return path;
  const std::size_t slash = manifestPath.find_last_of("/\\");
  if (slash == std::string::npos) return path;
  return manifestPath.substr(0, slash + 1) + path;
}

const std::string& StringOf(const toml::node& node, std::string_view key) {
  const toml::value<std::string>* value = node.as_string();
  if (value == nullptr) Refuse(node.source(), "\"" + std::string(key) + "\" takes a string");
  return value->get();
}

std::optional<PredefinedSet> SetOfWord(const toml::node& node) {
  const std::string& word = StringOf(node, "set");
  for (const DriveModelRow& row : kDriveModels)
    if (word == row.set.key) return row.set.set;
  if (word == kCombinedWord) return kCombinedSet.set;
  std::string known;
  for (const DriveModelRow& row : kDriveModels) known += std::string(row.set.key) + ", ";
  Refuse(node.source(), "unknown set \"" + word + "\": give " + known + "or " + kCombinedWord);
}

std::uint32_t AttributesOf(const toml::node& node) {
  if (const toml::value<std::int64_t>* number = node.as_integer()) {
    if (number->get() < 0 || number->get() > 0xFFFFFFFF) {
      Refuse(node.source(), "attributes are a 32-bit number");
    }
    return static_cast<std::uint32_t>(number->get());
  }
  if (!node.is_string()) Refuse(node.source(), "\"attributes\" takes a word or a number");
  const std::string& word = StringOf(node, "attributes");
  if (const int choice = AttributeChoiceOf(word); choice >= 0) {
    return kAttributeChoices[choice].bits;
  }
  std::string words;
  for (const AttributeChoice& choice : kAttributeChoices) {
    words += choice.word;
    words += ", ";
  }
  Refuse(node.source(),
         "unknown attributes \"" + word + "\": give " + words + "or a number such as 0x21");
}

std::optional<std::string> Sha256Of(const toml::node& node) {
  std::string hex = StringOf(node, "base-sha256");
  for (char& c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  bool valid = hex.size() == 64;
  for (char c : hex) valid = valid && std::isxdigit(static_cast<unsigned char>(c));
  if (!valid) Refuse(node.source(), "\"base-sha256\" takes 64 hexadecimal digits");
  return hex;
}

ManifestModule ModuleOf(const std::string& manifestPath, const toml::node& node) {
  const toml::table* table = node.as_table();
  if (table == nullptr) Refuse(node.source(), "each [[module]] is a table");
  ManifestModule module;
  module.place = PlaceOf(node.source());
  bool hasSource = false, hasFolder = false, hasAttributes = false;
  toml::source_region folderAt, attributesAt;
  for (auto&& [key, value] : *table) {
    const std::string_view name = key.str();
    if (name == "source") {
      module.source = StringOf(value, name);
      if (module.source.empty()) Refuse(value.source(), "\"source\" names no file");
      module.path = FromManifestFolder(manifestPath, module.source);
      hasSource = true;
    } else if (name == "set") {
      module.set = SetOfWord(value);
    } else if (name == "name") {
      module.name = StringOf(value, name);
      if (module.name.empty() || FindFileName(module.name) != module.name) {
        Refuse(value.source(), "\"name\" is one file name, without a folder");
      }
    } else if (name == "folder") {
      module.folder = StringOf(value, name);
      folderAt = value.source();
      hasFolder = true;
    } else if (name == "attributes") {
      module.attributes = AttributesOf(value);
      attributesAt = value.source();
      hasAttributes = true;
    } else {
      Refuse(key.source(), "unknown key \"" + std::string(name) +
                               "\" in a module: give source, set, name, folder or attributes");
    }
  }
  if (!hasSource) Refuse(node.source(), "a module without \"source\"");
  // The rules of add and add-predef: only a model's set goes below the
  // root, and the combined module lies at the root with Normal attributes.
  if (hasFolder && !module.set) {
    Refuse(folderAt, "a user-defined module has no folder: only a model's set goes below the root");
  }
  if (module.set == kCombinedSet.set) {
    if (hasFolder) Refuse(folderAt, "the combined module goes to the drive's root: no folder");
    if (hasAttributes && module.attributes != kCombinedAttributes) {
      Refuse(attributesAt, "the combined module's attributes are normal");
    }
  }
  return module;
}

unsigned CodePageOf(const toml::node& node) {
  const toml::value<std::int64_t>* number = node.as_integer();
  if (number == nullptr || number->get() < 0 || number->get() > 0xFFFF ||
      !IsKnownCodePage(static_cast<unsigned>(number->get()))) {
    Refuse(node.source(), "\"code-page\" takes one of " + KnownCodePages());
  }
  return static_cast<unsigned>(number->get());
}

bool Holds(const std::string& text, const char* placeholder) {
  return text.find(placeholder) != std::string::npos;
}

// The signing command: a program and its arguments, where the installer is
// named by {file}, or by {unsigned} and {signed}.
SignCommand SignOf(const std::string& manifestPath, const toml::node& node) {
  const toml::table* table = node.as_table();
  if (table == nullptr) Refuse(node.source(), "signing is a table: [sign] with command = [...]");
  SignCommand sign;
  bool hasCommand = false;
  for (auto&& [key, value] : *table) {
    if (key.str() != "command") {
      Refuse(key.source(),
             "unknown key \"" + std::string(key.str()) + "\" in [sign]: give command");
    }
    const toml::array* command = value.as_array();
    if (command == nullptr || command->empty()) {
      Refuse(value.source(), "\"command\" is a list: the program, then its arguments");
    }
    for (const toml::node& argument : *command)
      sign.arguments.push_back(StringOf(argument, "command"));
    hasCommand = true;
    bool inPlace = false, input = false, output = false;
    for (std::size_t i = 1; i < sign.arguments.size(); ++i) {
      inPlace = inPlace || Holds(sign.arguments[i], kSignInPlace);
      input = input || Holds(sign.arguments[i], kSignInput);
      output = output || Holds(sign.arguments[i], kSignOutput);
    }
    std::string& program = sign.arguments.front();
    if (program.empty() || Holds(program, "{")) {
      Refuse(value.source(), "the command's first item names the signing program");
    }
    if (inPlace ? input || output : !(input && output)) {
      Refuse(value.source(),
             "the command names the installer by {file} (signed in place), or by {unsigned} "
             "and {signed} (written to another file)");
    }
    // A program named by a path is found from the manifest's folder, as the
    // sources are; a bare name on PATH.
    if (program.find_first_of("/\\") != std::string::npos) {
      program = FromManifestFolder(manifestPath, program);
    }
  }
  if (!hasCommand) Refuse(node.source(), "[sign] without \"command\"");
  return sign;
}

Manifest ManifestOf(const std::string& manifestPath, const toml::table& root) {
  Manifest manifest;
  bool hasBase = false;
  for (auto&& [key, value] : root) {
    const std::string_view name = key.str();
    if (name == "base") {
      manifest.base = StringOf(value, name);
      if (manifest.base.empty()) Refuse(value.source(), "\"base\" names no file");
      manifest.basePath = FromManifestFolder(manifestPath, manifest.base);
      manifest.basePlace = PlaceOf(value.source());
      hasBase = true;
    } else if (name == "base-sha256") {
      manifest.baseSha256 = Sha256Of(value);
      manifest.sha256Place = PlaceOf(value.source());
    } else if (name == "code-page") {
      manifest.codePage = CodePageOf(value);
    } else if (name == "sign") {
      manifest.sign = SignOf(manifestPath, value);
      manifest.signPlace = PlaceOf(value.source());
    } else if (name == "module") {
      const toml::array* modules = value.as_array();
      if (modules == nullptr) Refuse(value.source(), "modules are written [[module]]");
      for (const toml::node& module : *modules)
        manifest.modules.push_back(ModuleOf(manifestPath, module));
    } else {
      Refuse(key.source(),
             "unknown key \"" + std::string(name) +
                 "\": give base, base-sha256, code-page, [sign] and [[module]] tables");
    }
  }
  if (!hasBase) {
    throw Fault{{{1, 1}, "no base installer: give base = \"brelvane-setup.exe\" (the empty one)"}};
  }
  return manifest;
}

}  // namespace

std::variant<Manifest, ManifestFault> ReadManifest(const Platform& platform,
                                                   const std::string& path) {
  const std::variant<std::string, ManifestFault> read = ReadWhole(platform, path);
  if (const ManifestFault* fault = std::get_if<ManifestFault>(&read)) return *fault;
  const std::string& text = std::get<std::string>(read);
  // A byte-order mark, as Notepad writes one, opens UTF-8 text.
  const std::string_view body =
      std::string_view(text).starts_with("\xEF\xBB\xBF") ? std::string_view(text).substr(3) : text;
  const std::variant<AsciiForm, ManifestFault> ascii = AsciiFormOf(body);
  if (const ManifestFault* fault = std::get_if<ManifestFault>(&ascii)) return *fault;
  const AsciiForm& form = std::get<AsciiForm>(ascii);
  const auto placed = [&](ManifestFault fault) {
    fault.place = ManifestPlaceOf(form, fault.place);
    return fault;
  };
  try {
    const toml::table root = toml::parse(form.text, path);
    Manifest manifest = ManifestOf(path, root);
    manifest.basePlace = ManifestPlaceOf(form, manifest.basePlace);
    manifest.sha256Place = ManifestPlaceOf(form, manifest.sha256Place);
    manifest.signPlace = ManifestPlaceOf(form, manifest.signPlace);
    for (ManifestModule& module : manifest.modules)
      module.place = ManifestPlaceOf(form, module.place);
    return manifest;
  } catch (const toml::parse_error& error) {
    return placed(ManifestFault{PlaceOf(error.source()), std::string(error.description())});
  } catch (const Fault& fault) { return placed(fault.fault); }
}

std::string DescribeFault(const std::string& manifestPath, const ManifestFault& fault) {
  if (fault.place.line == 0) return manifestPath + ": " + fault.message;
  return manifestPath + ":" + std::to_string(fault.place.line) + ":" +
         std::to_string(fault.place.column) + ": " + fault.message;
}

std::string SetWord(PredefinedSet set) {
  if (set == kCombinedSet.set) return kCombinedWord;
  const ModuleSetNames* names = NamesOf(set);
  return names != nullptr ? names->key : "";
}

std::string AttributesWord(std::uint32_t attributes) {
  for (const AttributeChoice& known : kAttributeChoices)
    if (attributes == known.bits) return TomlString(known.word);
  char number[16];
  std::snprintf(number, sizeof number, "0x%X", static_cast<unsigned>(attributes));
  return number;
}

std::string TomlString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace brelvane
