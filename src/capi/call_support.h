// What the files of the C interface share beyond the board object: text
// copied out to the caller, and why a selector is refused.
#ifndef TAV_CAPI_CALL_SUPPORT_H
#define TAV_CAPI_CALL_SUPPORT_H

#include <cstddef>
#include <cstdio>
#include <string>

#include "tav/tav.h"

namespace TAVDll::detail {

// source into the caller's text of size bytes, cut to fit, NUL-terminated.
inline int CopyText(const char* source, char* text, size_t size)
{
    if (text == nullptr || size == 0)
        return TAV_E_INVALID;
    std::snprintf(text, size, "%s", source);
    return TAV_OK;
}

// count letters, letterAt(0) to letterAt(count - 1), as the fact queries
// give them: the count, the letters NUL-terminated as far as they fit.
template <typename LetterAt>
int CopyLetters(char* letters, size_t size, size_t count, LetterAt letterAt)
{
    if (letters == nullptr && size > 0)
        return TAV_E_INVALID;
    if (size > 0) {
        size_t index = 0;
        for (; index < count && index + 1 < size; ++index)
            letters[index] = letterAt(index);
        letters[index] = '\0';
    }
    return static_cast<int>(count);
}

// Why text is no selector, in words, as tav_parse_selector and
// tav_open_problem give it.
std::string SelectorReason(const char* text);

} // namespace TAVDll::detail

#endif
