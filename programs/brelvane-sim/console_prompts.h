// Message boxes on a terminal: caption, text and buttons, with the answer
// read from the user when the box asks a question.
#pragma once

#include <ostream>

#include "console_answers.h"
#include "platform/platform.h"

namespace brelvane::sim {

class ConsolePrompts : public Prompts {
 public:
  ConsolePrompts(ConsoleAnswers& answers, std::ostream& out) : answers_(answers), out_(out) {}

  int Show(const Message& message) override;
  // Extraction is quick on a terminal; nothing to show.
  void BeginWait() override {}
  void EndWait() override {}

 private:
  ConsoleAnswers& answers_;
  std::ostream& out_;
};

}  // namespace brelvane::sim
