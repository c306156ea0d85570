// Finding a text in the pane's text: pure logic over UTF-16 units, no window.
#pragma once

#include <windows.h>

#include <stddef.h>

constexpr size_t kNotFound = static_cast<size_t>(-1);

// Where `what` (`count` units, at least one) is found in `text` (`length` units): down, the
// first match that starts at `from` or after it; up, the last one that starts before `from`.
// With `matchCase` false, letter case aside. kNotFound when there is none.
size_t FindInText(const WCHAR* text, size_t length, const WCHAR* what, size_t count, size_t from,
                  bool down, bool matchCase);
