#include "library/getvek.h"

#include <cstring>
#include <exception>
#include <initializer_list>
#include <new>
#include <string_view>

#include "conversion/GetVEK.h"
#include "platform/Platform.h"

namespace {

// The walk alone on Linux; on Windows the services, whose construction
// takes no lock and makes no file.
#ifdef _WIN32
using Names = Platform::Windows::Services;
#else
using Names = Platform::Linux::Walk;
#endif

// Copies the pieces, one after the other, without allocating: the line of a
// call that ran out of memory is copied this way too.
int copyOut(std::initializer_list<std::string_view> pieces, char* answer, std::size_t capacity, int status) {
  std::size_t length = 0;
  for (const std::string_view piece : pieces) length += piece.size();
  if (length >= capacity) {
    if (capacity > 0) answer[0] = '\0';
    return GETVEK_TOO_SMALL;
  }
  for (const std::string_view piece : pieces) {
    std::memcpy(answer, piece.data(), piece.size());
    answer += piece.size();
  }
  *answer = '\0';
  return status;
}

int failedFinding(std::string_view reason, char* answer, std::size_t capacity) {
  return copyOut({"cannot ", GetVEK::findingAction, ": ", reason}, answer, capacity, GETVEK_FAILED);
}

}  // namespace

extern "C" int getvek_short_form(const char* path, char* answer, std::size_t capacity) {
  // No exception may cross into C: whatever escapes the conversion is a
  // failure of this call alone.
  try {
    Names names;
    const GetVEK::Found shortForm = GetVEK::shortFormWithin(names, GetVEK::trimSpaces(path ? path : ""));
    if (shortForm.failed()) return copyOut({GetVEK::failureLine(shortForm.failure())}, answer, capacity, GETVEK_FAILED);
    return copyOut({GetVEK::answerText(shortForm)}, answer, capacity, 0);
  } catch (const std::bad_alloc&) {
    return failedFinding(GetVEK::outOfMemory, answer, capacity);
  } catch (const std::exception& error) {
    return failedFinding(error.what(), answer, capacity);
  } catch (...) {
    return failedFinding("unknown error", answer, capacity);
  }
}
