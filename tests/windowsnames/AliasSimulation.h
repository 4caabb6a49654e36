// Every alias of a directory at once, the obvious way: no groups, no
// passes, the whole directory in memory, each entry in creation order taking
// the first number not yet taken. What the alias assignment is checked
// against, by the tests and the fuzzer.
#pragma once

#include <map>
#include <string>

#include "tests/windowsnames/FakeDirectory.h"

namespace TestSupport {

// By long name; `directory` lists its entries in the order they were created.
std::map<std::string, std::string> simulateAliases(const FakeDirectory& directory);

}  // namespace TestSupport
