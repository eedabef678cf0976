// No libedit on Windows: the console edits the line itself.
#include "line_editor.h"

namespace tavctl {

extern const bool LINE_EDITING = false;

const Editline* LoadEditline()
{
    return nullptr;
}

} // namespace tavctl
