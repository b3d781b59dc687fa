// How the programs read an option that takes a value: "--name VALUE" or "--name=VALUE". One
// reader for steer, virtual-board and virtual-robot, our own rather than getopt_long: it keeps no
// state between calls (lockstep reads steer's options on several threads at once), takes
// argument vectors of C strings and of std::string alike, and allocates nothing.
#pragma once

#include <cstddef>
#include <string_view>

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

}  // namespace cli
