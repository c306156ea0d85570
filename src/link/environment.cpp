// The environment the interpreter starts with.
#include "environment.h"

namespace {

// Each value a 64-bit program has of its own, and where a 32-bit program on 64-bit Windows keeps
// it: whether that name stays.
const struct {
    const WCHAR* name;
    const WCHAR* source;
    bool sourceStays;
} kNativeValues[] = {
    {L"PROCESSOR_ARCHITECTURE", L"PROCESSOR_ARCHITEW6432", false},
    {L"ProgramFiles", L"ProgramW6432", true},
    {L"CommonProgramFiles", L"CommonProgramW6432", true},
};

size_t Length(const WCHAR* text) {
    size_t length = 0;
    while (text[length])
        ++length;
    return length;
}

// The length of the name in `entry`: up to its first '=' but the very first character, as the
// current directories of the drives are kept under names such as "=C:".
size_t NameLength(const WCHAR* entry) {
    size_t length = entry[0] ? 1 : 0;
    while (entry[length] && entry[length] != L'=')
        ++length;
    return length;
}

WCHAR Upper(WCHAR c) {
    return c >= L'a' && c <= L'z' ? static_cast<WCHAR>(c - L'a' + L'A') : c;
}

// Whether the name of `entry` is `name`, in any letter case. The names compared are ASCII.
bool NameIs(const WCHAR* entry, const WCHAR* name) {
    const size_t length = NameLength(entry);
    for (size_t i = 0; i < length; ++i)
        if (!name[i] || Upper(entry[i]) != Upper(name[i])) return false;
    return name[length] == 0;
}

// The value of the first string named `name` in `block`, or null when there is none.
const WCHAR* ValueOf(const WCHAR* block, const WCHAR* name) {
    for (const WCHAR* entry = block; *entry; entry += Length(entry) + 1) {
        if (!NameIs(entry, name)) continue;
        const WCHAR* value = entry + NameLength(entry);
        return *value == L'=' ? value + 1 : value;
    }
    return nullptr;
}

}  // namespace

size_t NativeEnvironment(const WCHAR* block, WCHAR* out, size_t room) {
    // The values that change: those whose two names are there, with a value to take.
    const WCHAR* values[ARRAYSIZE(kNativeValues)];
    for (size_t i = 0; i < ARRAYSIZE(kNativeValues); ++i) {
        const WCHAR* source = ValueOf(block, kNativeValues[i].source);
        const bool both = source && *source && ValueOf(block, kNativeValues[i].name);
        values[i] = both ? source : nullptr;
    }
    size_t size = 0;
    auto put = [&](const WCHAR* text, size_t count) {
        for (size_t i = 0; i < count; ++i, ++size)
            if (size < room) out[size] = text[i];
    };
    for (const WCHAR* entry = block; *entry; entry += Length(entry) + 1) {
        const WCHAR* value = nullptr;
        bool goes = false;
        for (size_t i = 0; i < ARRAYSIZE(kNativeValues); ++i) {
            if (!values[i]) continue;
            if (NameIs(entry, kNativeValues[i].name)) value = values[i];
            if (NameIs(entry, kNativeValues[i].source)) goes = !kNativeValues[i].sourceStays;
        }
        if (goes) continue;
        if (!value) {
            put(entry, Length(entry) + 1);
            continue;
        }
        put(entry, NameLength(entry));
        put(L"=", 1);
        put(value, Length(value) + 1);
    }
    const WCHAR zeros[2] = {0, 0};
    put(zeros, size == 0 ? 2 : 1);
    return size;
}
