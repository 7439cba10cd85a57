#include "extension/diagnostics_route.h"

#include <atomic>

#include "diagnostics/diagnostics.h"

namespace tavro {

namespace {
std::atomic<tavro_rtc::ExtensionControl*> hostControl{nullptr};

void ToHostLog(const char* line) {
  if (tavro_rtc::ExtensionControl* control = hostControl.load())
    control->logMessage(tavro_rtc::kLogDiagnostic, line);
}
}  // namespace

void RememberHostControl(tavro_rtc::ExtensionControl* control) { hostControl.store(control); }

void RouteDiagnosticsToHostLog(bool toLog) {
  tavro_diag::SetLineSink(toLog ? &ToHostLog : nullptr);
}

}  // namespace tavro
