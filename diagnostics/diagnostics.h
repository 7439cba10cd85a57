// The one place every room of the module writes its diagnostic text through
// (cost lines, start-up lines, wrapper messages, timing lines).
//
// By default the text goes to standard output exactly as each caller composes
// it, flushed after every write: that is where a host that knows nothing of
// this finds the module's lines. A host-facing part of the module may install
// a line sink instead (SetLineSink): the text is then cut into lines, each
// handed to the sink without its line end once complete, and nothing reaches
// standard output. The sink is a plain function of the module itself, so
// nothing of the module is ever registered outside it.
#pragma once

#include <cstddef>
#include <string>

namespace tavro_diag {

// Receives one complete line (no line end). Called under the sink's lock, so
// lines never interleave; it must not write diagnostics itself.
typedef void (*LineSink)(const char* line);

// Installs sink for every later write; null sends text to standard output
// again. A partial line held for the old sink is dropped.
void SetLineSink(LineSink sink);
LineSink CurrentLineSink();

// None of these throws, and on standard output none allocates: a line that
// cannot be written is dropped, so a failed allocation never stops a caller
// half-way.
// Writes text as it is (pieces of a line are fine: a sink sees whole lines).
void Write(const char* text, std::size_t size) noexcept;
void Write(const std::string& text) noexcept;
// Writes text and a line end.
void Line(const char* text) noexcept;
void Line(const std::string& text) noexcept;
// printf-style Write (up to 255 bytes without allocating).
void Printf(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));

}  // namespace tavro_diag
