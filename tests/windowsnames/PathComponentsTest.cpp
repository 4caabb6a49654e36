#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "windowsnames/PathComponents.h"

namespace {

using WindowsNames::forEachComponent;
using WindowsNames::isShortPath;

// The components, each marked "+" when a separator follows it.
std::vector<std::string> componentsOf(std::string_view path, char separator) {
  std::vector<std::string> components;
  forEachComponent(path, separator, [&](std::string_view component, bool separatorFollows) {
    components.push_back(std::string(component) + (separatorFollows ? "+" : ""));
    return true;
  });
  return components;
}

TEST(PathComponentsTest, KeepsEmptyComponentsSoThatSeparatorsStandAsTyped) {
  const std::vector<std::pair<std::string_view, std::vector<std::string>>> cases = {
      {"", {""}}, {"a", {"a"}}, {"/", {"+", ""}}, {"/tmp/a b", {"+", "tmp+", "a b"}}, {"a//b/", {"a+", "+", "b+", ""}},
  };
  for (const auto& [path, components] : cases) EXPECT_EQ(componentsOf(path, '/'), components) << path;
  EXPECT_EQ(componentsOf(R"(C:\a/b)", '\\'), (std::vector<std::string>{"C:+", "a/b"}));
}

TEST(PathComponentsTest, StopsWhereAVisitSaysSo) {
  int visits = 0;
  EXPECT_FALSE(forEachComponent("a/b/c", '/', [&](std::string_view, bool) { return ++visits < 2; }));
  EXPECT_EQ(visits, 2);
}

TEST(PathComponentsTest, ShortPathsHoldOnlyValid83Components) {
  for (const char* path : {"/TMP/MYDOCU~1/REPORT~1.TXT", "//tmp///a.b", "./../A", "/"})
    EXPECT_TRUE(isShortPath(path, '/')) << path;
  for (const char* path : {"", "/tmp/My Documents", "/tmp/ABCDEFGHI", "/tmp/a.b.c", "bAd?"})
    EXPECT_FALSE(isShortPath(path, '/')) << path;
}

}  // namespace
