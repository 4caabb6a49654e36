// Which errors met while a path is looked up leave its answer unknown: one
// policy for every lookup of both platforms, the Linux walk and its name
// sources and Windows' search and short-name query alike (ErrorPolicy.cpp
// holds each platform's list).
//   - An error about the path itself says that it has no short form, and the
//     answer is "bAd", as Windows' own query answers: no such entry, not a
//     directory, not allowed to this user, a name the system refuses.
//   - Any other error says nothing of the path (no descriptors or memory, an
//     I/O error, a device or a network that gave up): the run fails rather
//     than answer "bAd" for a path that may well have a short form.
#pragma once

namespace Platform {

#ifdef _WIN32
// `error` as GetLastError gives it.
bool leavesAnswerUnknown(unsigned long error);
#else
// `error` an errno value; 0 for none.
bool leavesAnswerUnknown(int error);
#endif

}  // namespace Platform
