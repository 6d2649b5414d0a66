// Prompts for tests: records every message box in order, answers from a
// script, and watches the wait cursor.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace brelvane::testing {

class ScriptedPrompts : public Prompts {
 public:
  // Answers for the next boxes, in order.  Once the script runs out, a box
  // gets its safe answer: OK for an OK box, No for Yes/No, Cancel otherwise.
  void QueueAnswer(int answer) { answers_.push_back(answer); }
  void QueueAnswers(std::initializer_list<int> answers) {
    answers_.insert(answers_.end(), answers);
  }
  std::size_t PendingAnswers() const { return answers_.size(); }
  // Runs while the next box is up (the world may change while a question
  // waits), then is forgotten.
  void WhileNextBoxIsUp(std::function<void()> action) { while_up_ = std::move(action); }

  int Show(const Message& message) override;
  void BeginWait() override;
  void EndWait() override;

  const std::vector<Message>& messages() const { return messages_; }
  // Just the texts, for comparing a whole conversation at once.
  std::vector<std::string> texts() const;
  // The wait-cursor depth when each message was shown.
  const std::vector<int>& wait_depth_at_message() const { return wait_depth_at_message_; }
  void ClearMessages();

  int wait_depth() const { return wait_depth_; }
  int wait_begins() const { return wait_begins_; }
  int wait_ends() const { return wait_ends_; }
  // Every End matched an earlier Begin and none is left open.
  bool WaitBalanced() const { return wait_depth_ == 0 && !wait_underflow_; }

  // The answer a box gets when nothing is scripted.
  static int SafeAnswer(std::uint32_t style);

 private:
  std::deque<int> answers_;
  std::function<void()> while_up_;
  std::vector<Message> messages_;
  std::vector<int> wait_depth_at_message_;
  int wait_depth_ = 0;
  int wait_begins_ = 0;
  int wait_ends_ = 0;
  bool wait_underflow_ = false;
};

}  // namespace brelvane::testing
