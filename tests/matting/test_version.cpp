// The module's version text lives with the extension entry; the pipeline
// tests link the adapter alone.
#include "extension/version.h"

const char* tavro::GetMattingVersionText() { return "matting-test"; }
