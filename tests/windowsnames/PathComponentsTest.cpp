#include <gtest/gtest.h>

#include <string_view>
#include <utility>
#include <vector>

#include "windowsnames/PathComponents.h"

namespace {

using WindowsNames::isShortPath;
using WindowsNames::pathComponents;

TEST(PathComponentsTest, KeepsEmptyComponentsSoThatSeparatorsStandAsTyped) {
  const std::vector<std::pair<std::string_view, std::vector<std::string_view>>> cases = {
      {"", {""}}, {"a", {"a"}}, {"/", {"", ""}}, {"/tmp/a b", {"", "tmp", "a b"}}, {"a//b/", {"a", "", "b", ""}},
  };
  for (const auto& [path, components] : cases) EXPECT_EQ(pathComponents(path, '/'), components) << path;
  EXPECT_EQ(pathComponents(R"(C:\a/b)", '\\'), (std::vector<std::string_view>{"C:", "a/b"}));
}

TEST(PathComponentsTest, ShortPathsHoldOnlyValid83Components) {
  for (const char* path : {"/TMP/MYDOCU~1/REPORT~1.TXT", "//tmp///a.b", "./../A", "/"})
    EXPECT_TRUE(isShortPath(path, '/')) << path;
  for (const char* path : {"", "/tmp/My Documents", "/tmp/ABCDEFGHI", "/tmp/a.b.c", "bAd?"})
    EXPECT_FALSE(isShortPath(path, '/')) << path;
}

}  // namespace
