// Standard input and output as raw bytes, for programs that carry a byte
// stream through them (no text conversion, no line-end translation).
#pragma once

#include <cstddef>

namespace ov::platform {

// Bytes read (at most size); 0 at the end of the input, -1 on error.
long ReadStandardInput(char* data, size_t size);
// Writes all bytes; false when the output is gone.
bool WriteStandardOutput(const char* data, size_t size);
// Closes standard output, so that the reader at its other end sees the end.
void CloseStandardOutput();

}  // namespace ov::platform
