// Watches for message boxes of this process on a thread of its own, records their title
// and text, and dismisses each one with its OK button, so no test ever waits for a user.
#pragma once

#include <string>
#include <vector>

struct SeenMessageBox {
  std::string title;
  std::string text;
  bool owned;  // had an owner window
};

class MessageBoxWatcher {
 public:
  MessageBoxWatcher();
  ~MessageBoxWatcher();
  // Every box seen and dismissed so far.
  std::vector<SeenMessageBox> Seen();

  struct State;

 private:
  State* state_;
};
