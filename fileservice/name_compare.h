// Names compared as the file system compares them: ASCII letters without regard to case.
#pragma once

inline bool SameNameNoCase(const char* a, const char* b) {
    auto fold = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; };
    for (; *a && *b; ++a, ++b)
        if (fold(static_cast<unsigned char>(*a)) != fold(static_cast<unsigned char>(*b))) return false;
    return *a == *b;
}
