#include "system/critical_section_win.h"

#include <new>

namespace TavroRTCMP {

CriticalSectionWrapper* CreateCriticalSectionWrapper() {
  return new (std::nothrow) CriticalSectionWindows();
}

}  // namespace TavroRTCMP
