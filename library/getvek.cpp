#include "library/getvek.h"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <initializer_list>
#include <new>
#include <string_view>

#include "conversion/GetVEK.h"
#ifdef _WIN32
#include "platform/windows/NameQueries.h"
#include "platform/windows/WideShortForm.h"
#else
#include "platform/linux/walk/Walk.h"
#endif

namespace {

// The questions alone, with none of the tool's files or its lock: the walk
// on Linux, the name queries in the ANSI code page on Windows.
#ifdef _WIN32
using Names = Platform::Windows::NameQueries;
#else
using Names = Platform::Linux::Walk;
#endif

// Copies the pieces, one after the other, without allocating: the line of a
// call that ran out of memory is copied this way too.
template <class Char>
int copyOut(std::initializer_list<std::basic_string_view<Char>> pieces, Char* answer, std::size_t capacity,
            int status) {
  std::size_t length = 0;
  for (const std::basic_string_view<Char> piece : pieces) length += piece.size();
  if (length >= capacity) {
    if (capacity > 0) answer[0] = Char();
    return GETVEK_TOO_SMALL;
  }
  for (const std::basic_string_view<Char> piece : pieces) {
    std::copy(piece.begin(), piece.end(), answer);
    answer += piece.size();
  }
  *answer = Char();
  return status;
}

// The line of a failure that escaped the conversion, without allocating.
int failedFinding(std::string_view reason, char* answer, std::size_t capacity) {
  return copyOut<char>({"cannot ", GetVEK::findingAction, ": ", reason}, answer, capacity, GETVEK_FAILED);
}

// No exception may cross into C: whatever escapes the conversion is a
// failure of this call alone.
template <class Char, class Convert>
int answering(Char* answer, std::size_t capacity, Convert convert) {
  char line[128];
  try {
    return convert();
  } catch (const std::bad_alloc&) {
    failedFinding(GetVEK::outOfMemory, line, sizeof line);
  } catch (const std::exception& error) {
    failedFinding(error.what(), line, sizeof line);
  } catch (...) {
    failedFinding("unknown error", line, sizeof line);
  }
  // The line is ASCII but for what an exception said of itself, widened a
  // byte at a time.
  Char wide[sizeof line];
  std::size_t length = 0;
  for (; line[length] != '\0'; ++length) wide[length] = static_cast<Char>(static_cast<unsigned char>(line[length]));
  return copyOut<Char>({std::basic_string_view<Char>(wide, length)}, answer, capacity, GETVEK_FAILED);
}

}  // namespace

extern "C" int getvek_short_form(const char* path, char* answer, std::size_t capacity) {
  return answering(answer, capacity, [&] {
    Names names;
    const GetVEK::Found shortForm = GetVEK::shortFormWithin(names, GetVEK::trimSpaces(path ? path : ""));
    if (shortForm.failed())
      return copyOut<char>({GetVEK::failureLine(shortForm.failure())}, answer, capacity, GETVEK_FAILED);
    return copyOut<char>({GetVEK::answerText(shortForm)}, answer, capacity, 0);
  });
}

#ifdef _WIN32
extern "C" int getvek_short_formW(const wchar_t* path, wchar_t* answer, std::size_t capacity) {
  return answering(answer, capacity, [&] {
    const Platform::Windows::WideAnswer shortForm = Platform::Windows::shortFormOfWide(path ? path : L"");
    return copyOut<wchar_t>({shortForm.text}, answer, capacity, shortForm.failed ? GETVEK_FAILED : 0);
  });
}
#endif
