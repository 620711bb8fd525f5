#include "command/Report.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

void Say(const std::string& message) {
  std::cerr << "corvanel: " << message << "\n" << std::flush;
}

int Fail(int status, const std::string& message) {
  Say(message);
  return status;
}

std::string Percent(uint64_t part, uint64_t whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %%", whole ? 100.0 * double(part) / double(whole) : 0.0);
  return text;
}

std::string Seconds(double milliseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", milliseconds / 1000.0);
  return text;
}

std::string Colour(const EffectParams& p) {
  return std::to_string(p.red) + "," + std::to_string(p.green) + "," + std::to_string(p.blue);
}

void ProgressBar::Phase(const char* label, int percent) {
  if (!enabled_ || (label == label_ && percent == shown_)) return;
  label_ = label;
  shown_ = percent;
  const int filled = percent * kWidth / 100;
  std::fprintf(stderr, "\r%-9s [%s%s] %3d%%", label, std::string(size_t(filled), '#').c_str(),
               std::string(size_t(kWidth - filled), ' ').c_str(), percent);
  std::fflush(stderr);
}

void ProgressBar::Rows(int32_t done, int32_t total, int frame, int frames) {
  if (total <= 0 || frames <= 0) return;
  const int64_t rows = int64_t(frame) * total + std::clamp(done + 1, 0, total);
  Phase("filtering", int(rows * 100 / (int64_t(total) * frames)));
}

void ProgressBar::End() {
  if (shown_ >= 0) std::fputs("\r\033[K", stderr);
  shown_ = -1;
  label_ = nullptr;
}
