#include "platform/ErrorPolicy.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#endif

namespace Platform {

#ifdef _WIN32

// Windows gives a path that names nothing many codes (a name it refuses, a
// server that is not there, a wildcard its query takes for one), and the
// system's own troubles few: these are listed, and every other error is
// about the path.
bool leavesAnswerUnknown(unsigned long error) {
  switch (error) {
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_NONPAGED_SYSTEM_RESOURCES:
    case ERROR_PAGED_SYSTEM_RESOURCES:
    case ERROR_WORKING_SET_QUOTA:
    case ERROR_IO_DEVICE:
    case ERROR_CRC:
    case ERROR_SEM_TIMEOUT:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_NETNAME_DELETED:
      return true;
    default:
      return false;
  }
}

#else

// Linux says what is wrong with a path in few codes, and a file system may
// add its own troubles (a FUSE daemon gone, a network that timed out): the
// codes about the path are listed, and every other error leaves the answer
// unknown.
bool leavesAnswerUnknown(int error) {
  switch (error) {
    case 0:
    case ENOENT:
    case ENOTDIR:
    case EISDIR:
    case EACCES:
    case EPERM:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL:
    case EILSEQ:
      return false;
    default:
      return true;
  }
}

#endif

}  // namespace Platform
