// What the command says: its messages and exit statuses, the progress bar, the counts.
#pragma once

#include <cstdint>
#include <string>

#include "host/EffectParams.h"

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;  // as a shell reports a program ended by Ctrl-C

// One line on stderr, "corvanel: message".
void Say(const std::string& message);
// Says the message and gives the status back, for `return Fail(...)`.
int Fail(int status, const std::string& message);

std::string Percent(uint64_t part, uint64_t whole);  // "12.50 %"
std::string Seconds(double milliseconds);            // "1.25 s"
std::string Colour(const EffectParams& p);           // "255,200,90"

// One line redrawn in place, through loading, filtering and saving; only when stderr is a
// terminal, so logs stay clean.
class ProgressBar {
 public:
  explicit ProgressBar(bool enabled) : enabled_(enabled) {}
  void Phase(const char* label, int percent);
  // Rows done of one frame among several.
  void Rows(int32_t done, int32_t total, int frame, int frames);
  void End();

 private:
  static constexpr int kWidth = 40;
  bool enabled_;
  const char* label_ = nullptr;
  int shown_ = -1;
};
