// A progress bar on one terminal line, redrawn in place: the label, 40 cells
// and the bytes done.  The programs draw it on standard error while a long
// copy runs (oempack's add and extract, brelvane-sim's install run).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace brelvane {

// Copies shorter than this finish before a bar would mean anything.
inline constexpr std::uint64_t kProgressThreshold = 8ull << 20;

class ProgressBar {
 public:
  // Where the bar's text goes: each call is a whole piece to show at once.
  using Writer = std::function<void(const std::string& text)>;

  // A bar for `total` bytes, drawn only when `enabled` (the stream is a
  // terminal) and the total reaches kProgressThreshold.  By default it
  // writes to stderr.
  ProgressBar(std::string label, std::uint64_t total, bool enabled, Writer write = {});
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
  // Ends the bar's line, when one was drawn.
  ~ProgressBar();

  // A callback that draws the bar; empty when the bar is not drawn, so the
  // copy it is handed to reports nothing.
  std::function<void(std::uint64_t done, std::uint64_t total)> callback();
  // Draws `done` of `total`, when the whole percent changed since the last
  // drawing or the label did.
  void Draw(std::uint64_t done, std::uint64_t total);
  // A new label (say, the next file of a set), shown at the next drawing.
  void SetLabel(const std::string& label);

 private:
  std::string label_;
  bool enabled_;
  Writer write_;
  int lastPercent_ = -1;
  std::size_t lastWidth_ = 0;  // characters of the line drawn last
};

}  // namespace brelvane
