// Where standard output's last line stands, so that a message on standard
// error begins on a line of its own when both streams show on the same
// terminal. The result line ("----COMMAND RESULT: ...") and the "GET:" line
// of a fetch in flight end without a line end; a message written to
// standard error after them would otherwise be glued to them.
//
// The writers of the report and of the fetch lines note what they wrote
// (NoteStandardOutput); whoever writes a line on standard error first calls
// BeginErrorLine, which writes "\n" on standard error when the last byte
// noted was not a line end and descriptors 1 and 2 are the same terminal.
// Any thread; the state is one atomic flag.
#ifndef VERU_ENGINE_OUTPUT_LINE_H
#define VERU_ENGINE_OUTPUT_LINE_H

#include <cstddef>

namespace Veru {

// sText (iSize bytes) was just written to standard output.
void NoteStandardOutput(const char* sText, size_t iSize);

// Before a line on standard error: ends standard output's open line on the
// terminal first, when both streams go to the same terminal.
void BeginErrorLine();

}  // namespace Veru

#endif  // VERU_ENGINE_OUTPUT_LINE_H
