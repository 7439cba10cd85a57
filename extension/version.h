// The module's version text, shared by the exported Get_Matting_Version and
// the matting interface's version().
#pragma once

namespace tavro {
const char* GetMattingVersionText();
}  // namespace tavro
