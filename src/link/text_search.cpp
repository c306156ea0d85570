// Finding a text in the pane's text, as the user sees it and with the user's choice of case.
#include "text_search.h"

namespace {

// Every unit in upper case, as the system's own case mapping has it, one unit for one: made once,
// as a search looks up each unit of a text of hundreds of thousands.
WCHAR s_upper[65536];

WCHAR Folded(WCHAR c) {
    if (s_upper['a'] != 'A') {
        for (size_t i = 0; i < 65536; ++i)
            s_upper[i] = static_cast<WCHAR>(i);
        CharUpperBuffW(s_upper, 65536);
    }
    return s_upper[c];
}

bool MatchesAt(const WCHAR* text, const WCHAR* what, size_t count, bool matchCase) {
    for (size_t i = 0; i < count; ++i) {
        if (text[i] != what[i] && (matchCase || Folded(text[i]) != Folded(what[i]))) return false;
    }
    return true;
}

}  // namespace

size_t FindInText(const WCHAR* text, size_t length, const WCHAR* what, size_t count, size_t from,
                  bool down, bool matchCase) {
    if (count == 0 || count > length) return kNotFound;
    const size_t last = length - count;  // the last place a match can start
    const WCHAR first = matchCase ? what[0] : Folded(what[0]);
    auto candidate = [&](size_t at) {
        return (matchCase ? text[at] : Folded(text[at])) == first &&
               MatchesAt(text + at, what, count, matchCase);
    };
    if (down) {
        for (size_t at = from; at <= last; ++at)
            if (candidate(at)) return at;
        return kNotFound;
    }
    for (size_t at = from < last + 1 ? from : last + 1; at-- > 0;)
        if (candidate(at)) return at;
    return kNotFound;
}
