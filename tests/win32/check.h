// A tiny test harness for Win32 behaviour suites. The same source builds
// natively against hostwin and with mingw for real Windows, where no test
// framework is at hand, so it needs nothing beyond the C library.
#pragma once

#include <cstdio>
#include <cstring>

namespace check {

struct Case {
    const char* name;
    void (*run)();
    Case* next;
};

inline Case* First = nullptr;
inline Case** Last = &First;
inline int Failures = 0;
inline bool CaseFailed = false;

struct Register {
    Case node;
    Register(const char* name, void (*run)()) : node{name, run, nullptr}
    {
        *Last = &node;
        Last = &node.next;
    }
};

inline void Fail(const char* file, int line, const char* text)
{
    std::printf("    %s:%d: check failed: %s\n", file, line, text);
    CaseFailed = true;
}

inline void FailValues(const char* file, int line, const char* text, unsigned long long a,
                       unsigned long long b)
{
    std::printf("    %s:%d: check failed: %s (%llu vs %llu)\n", file, line, text, a, b);
    CaseFailed = true;
}

// Runs every case; prints one line per case and a summary naming the
// platform, so a log shows which Win32 the suite ran against.
inline int RunAll(const char* suite, const char* platform)
{
    int passed = 0;
    for (Case* c = First; c != nullptr; c = c->next) {
        CaseFailed = false;
        c->run();
        std::printf("[%s] %s.%s\n", CaseFailed ? "FAIL" : " OK ", suite, c->name);
        if (CaseFailed)
            ++Failures;
        else
            ++passed;
    }
    std::printf("%s on %s: %d passed, %d failed\n", suite, platform, passed, Failures);
    std::fflush(stdout);
    return Failures == 0 ? 0 : 1;
}

}  // namespace check

#define CASE(name)                                             \
    static void name();                                        \
    static check::Register register_##name(#name, name);       \
    static void name()

#define CHECK(condition)                                       \
    do {                                                       \
        if (!(condition))                                      \
            check::Fail(__FILE__, __LINE__, #condition);       \
    } while (0)

#define CHECK_EQ(a, b)                                                                         \
    do {                                                                                       \
        auto checkA = static_cast<unsigned long long>(a);                                      \
        auto checkB = static_cast<unsigned long long>(b);                                      \
        if (checkA != checkB)                                                                  \
            check::FailValues(__FILE__, __LINE__, #a " == " #b, checkA, checkB);               \
    } while (0)
