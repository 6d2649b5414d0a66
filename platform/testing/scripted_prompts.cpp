#include "platform/testing/scripted_prompts.h"

#include <utility>

namespace brelvane::testing {

int ScriptedPrompts::SafeAnswer(std::uint32_t style) {
  switch (style & 0x0F) {
    case win::kMbOk: return win::kIdOk;
    case win::kMbYesNo: return win::kIdNo;
    case 0x02:   // Abort/Retry/Ignore
      return 3;  // IDABORT
    default: return win::kIdCancel;
  }
}

int ScriptedPrompts::Show(const Message& message) {
  messages_.push_back(message);
  wait_depth_at_message_.push_back(wait_depth_);
  if (while_up_) std::exchange(while_up_, nullptr)();
  if (answers_.empty()) return SafeAnswer(message.style);
  int answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void ScriptedPrompts::BeginWait() {
  ++wait_depth_;
  ++wait_begins_;
}

void ScriptedPrompts::EndWait() {
  ++wait_ends_;
  if (wait_depth_ == 0) {
    wait_underflow_ = true;
    return;
  }
  --wait_depth_;
}

std::vector<std::string> ScriptedPrompts::texts() const {
  std::vector<std::string> result;
  for (const Message& message : messages_) result.push_back(message.text);
  return result;
}

void ScriptedPrompts::ClearMessages() {
  messages_.clear();
  wait_depth_at_message_.clear();
}

}  // namespace brelvane::testing
