// How the programs read an option that takes a value: "--name VALUE" or "--name=VALUE". One
// reader for steer, virtual-board and virtual-robot, our own rather than getopt_long: it keeps no
// state between calls (lockstep reads steer's options on several threads at once), takes
// argument vectors of C strings and of std::string alike; `valueOption` allocates nothing.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace cli {

// Whether args[i] is option `name` with a value. If so, `value` is that value, `missing` is true
// when "--name" is the last argument, and i has stepped over a value given apart.
template <typename Args>
bool valueOption(std::string_view name, const Args& args, std::size_t& i, std::string_view& value,
                 bool& missing) {
  const std::string_view arg = args[i];
  if (arg.substr(0, name.size()) != name) return false;
  missing = false;
  if (arg.size() == name.size()) {
    missing = i + 1 >= std::size(args);
    value = missing ? std::string_view{} : std::string_view(args[++i]);
    return true;
  }
  if (arg[name.size()] != '=') return false;
  value = arg.substr(name.size() + 1);
  return true;
}

// Whether args[i] is one of `options` (a name, and the string its value goes into); if so, takes
// it. A value missing or empty sets `why` to "NAME needs a value" and `more`.
template <typename Args, std::size_t N>
bool valueOptions(const std::pair<const char*, std::string*> (&options)[N], const Args& args,
                  std::size_t& i, std::string& why, std::string_view more = "") {
  for (const auto& [name, target] : options) {
    std::string_view value;
    bool missing = false;
    if (!valueOption(name, args, i, value, missing)) continue;
    if (missing || value.empty()) why = std::string(name) + " needs a value" + std::string(more);
    *target = value;
    return true;
  }
  return false;
}

// Whether --device may name `path`: a device path that exists must be a character device; one
// that does not may appear later.
inline bool usableDevice(const char* path) {
  struct stat st {};
  return path[0] != '\0' && (stat(path, &st) != 0 || S_ISCHR(st.st_mode));
}

// Whether args[i] (C strings) is "--device PATH" or "--device=PATH"; if so, takes it. `path`
// then points into args, or, with the value missing, at the option; `why` is null, or says why
// `path` is refused.
template <typename Args>
bool deviceOption(const Args& args, std::size_t& i, const char*& path, const char*& why) {
  const char* arg = args[i];
  std::string_view value;
  bool missing = false;
  if (!valueOption("--device", args, i, value, missing)) return false;
  path = missing ? arg : value.data();  // the rest of a C string
  why = missing              ? "option needs a device path:"
        : usableDevice(path) ? nullptr
                             : "--device takes a character device (or one yet to appear), not";
  return true;
}

}  // namespace cli
