#include "system/critical_section_posix.h"

#include <new>

namespace TavroRTCMP {

CriticalSectionWrapper* CreateCriticalSectionWrapper() {
  return new (std::nothrow) CriticalSectionPosix();
}

}  // namespace TavroRTCMP
