#include "unattended/run_log.h"

#include "common/messages.h"
#include "common/printable.h"

namespace brelvane {

std::string TimeStamp(const LocalTime& t) {
  return Format("%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
}

std::string OneLine(const std::string& text) {
  std::string flat;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      // CR LF is one break.
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      flat += ' ';
    } else {
      flat += c;
    }
  }
  return EscapeControls(flat);
}

std::optional<std::string> RunLog::DefaultPath(System& system) {
  std::optional<std::string> folder = system.TempDirectory();
  if (!folder || folder->empty()) return std::nullopt;
  if (folder->back() != '\\' && folder->back() != '/') *folder += '\\';
  return *folder + "brelvane-setup.log";
}

bool RunLog::Open(const std::string& path) {
  FileSystem& files = platform_.files;
  // Appended to when it is there; created when it is not, unless another
  // run creates it first.
  FileHandle handle = files.OpenAppend(path);
  if (handle == kNoFile && platform_.system.LastError() == win::kErrorFileNotFound) {
    handle = files.CreateExclusive(path);
    const std::uint32_t error = platform_.system.LastError();
    if (handle == kNoFile && (error == win::kErrorFileExists || error == win::kErrorAlreadyExists))
      handle = files.OpenAppend(path);
  }
  if (handle == kNoFile) return false;
  file_.emplace(files, handle);
  return true;
}

void RunLog::Write(const std::string& text) {
  if (!file_) return;
  // A log line that cannot be written is lost; the run goes on, as there is
  // nowhere left to say so.
  const std::string line = TimeStamp(platform_.system.Now()) + " " + OneLine(text) + "\r\n";
  platform_.files.Write(file_->get(), line.data(), line.size());
}

void RunLog::Say(const std::string& text) {
  Write(text);
  said_.push_back(text);
  Tell(text);
}

void RunLog::Tell(const std::string& text) const {
  if (console_) console_(EscapeControls(text));
}

}  // namespace brelvane
