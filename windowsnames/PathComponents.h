// A path taken apart at its separators, as the lookup walks it, and the shape
// of a short form.
#pragma once

#include <string_view>
#include <vector>

namespace WindowsNames {

// The texts between separators, empty ones included (before a leading
// separator, between two in a row, after a trailing one): joined again with
// the separator they give the path back.
std::vector<std::string_view> pathComponents(std::string_view path, char separator);

// Whether `path` has the shape of a short form: not empty, and every
// component a valid 8.3 name, "." or "..", or empty where separators stand
// as typed.
bool isShortPath(std::string_view path, char separator);

}  // namespace WindowsNames
