#include "platform/windows/WideShortForm.h"

#include <optional>

#include "conversion/GetVEK.h"
#include "platform/windows/NameQueries.h"

namespace Platform::Windows {
namespace {

// The conversion's text is UTF-8 throughout (the failures' too), so only a
// broken conversion could leave it unreadable.
std::wstring wideOf(std::string_view utf8) {
  return exactWide(utf8, Narrow::utf8).value_or(std::wstring(L"?"));
}

}  // namespace

WideAnswer shortFormOfWide(std::wstring_view path) {
  const NameQueries names(Narrow::utf8);
  const std::optional<std::string> narrowed = names.narrowPath(path);
  if (!narrowed) return {wideOf(GetVEK::failureMarker)};
  const GetVEK::Found shortForm = GetVEK::shortFormWithin(names, GetVEK::trimSpaces(*narrowed));
  if (shortForm.failed()) return {wideOf(GetVEK::failureLine(shortForm.failure())), true};
  return {wideOf(GetVEK::answerText(shortForm))};
}

}  // namespace Platform::Windows
