// Where the module's diagnostic lines go: standard output (the default), or,
// when a filter's "configs" sets "diagnostics_to_log", the host's log channel
// (the extension control's logMessage with level kLogDiagnostic). The choice
// is the module's, for all its filters: the engine's lines belong to no one
// filter. Only the module points at the host (the control it was handed);
// the host holds nothing of the module, so unloading leaves nothing behind.
#pragma once

#include "sdk/tavro_rtc_sdk.h"

namespace tavro {

// The control the provider was last handed (null clears it). While the
// diagnostics go to the host's log and no control is known, lines are
// dropped rather than written to standard output the host asked to keep
// clean.
void RememberHostControl(tavro_rtc::ExtensionControl* control);

// true: every later diagnostic line goes to the host's log; false: back to
// standard output.
void RouteDiagnosticsToHostLog(bool toLog);

}  // namespace tavro
