// Small helpers for looking at what a program wrote.
#pragma once

#include <string>

// What the controller prints when it stops: "bye bye" after three line breaks, and one more.
inline const std::string farewell = "\n\n\nbye bye\n";

inline size_t countOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

inline bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

inline std::string repeat(const std::string& part, size_t times) {
  std::string all;
  for (size_t i = 0; i < times; ++i) all += part;
  return all;
}
