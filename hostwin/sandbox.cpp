#include "hostwin/sandbox.h"

#include "hostwin/hostwin.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

namespace {

char FoldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameNameNoCase(const char* a, const char* b, std::size_t bLength)
{
    std::size_t i = 0;
    for (; i < bLength; ++i) {
        if (a[i] == '\0' || FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return a[i] == '\0';
}

// Replaces the component out[start, start+length) by the name of an entry
// of directory out[0, start) that matches it without regard to case.
// Returns false when the directory holds no such entry.
bool MatchComponent(char* out, std::size_t start, std::size_t length)
{
    char saved = out[start];
    out[start] = '\0';
    DIR* dir = opendir(start == 0 ? "." : out);
    out[start] = saved;
    if (dir == nullptr)
        return false;
    bool found = false;
    while (dirent* entry = readdir(dir)) {
        if (SameNameNoCase(entry->d_name, out + start, length)) {
            std::memcpy(out + start, entry->d_name, length);
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}

bool Exists(const char* path)
{
    struct stat info;
    return lstat(path, &info) == 0;
}

// Walks the components after prefixLength and resolves each that does not
// exist as written. Once a component matches nothing, the rest cannot exist
// and is left as written.
void ResolveCase(char* out, std::size_t prefixLength)
{
    std::size_t i = prefixLength;
    while (out[i] != '\0') {
        while (out[i] == '/')
            ++i;
        std::size_t start = i;
        while (out[i] != '\0' && out[i] != '/')
            ++i;
        std::size_t length = i - start;
        if (length == 0)
            break;
        char saved = out[i];
        out[i] = '\0';
        bool present = Exists(out);
        out[i] = saved;
        if (!present && !MatchComponent(out, start, length))
            return;
    }
}

bool Append(char* out, std::size_t capacity, std::size_t& used, const char* text, std::size_t length)
{
    if (used + length >= capacity)
        return false;
    std::memcpy(out + used, text, length);
    used += length;
    out[used] = '\0';
    return true;
}

}  // namespace

int MapWindowsPath(const char* windowsPath, char* out, std::size_t capacity, unsigned* error)
{
    *error = ERROR_SUCCESS;
    if (windowsPath == nullptr || windowsPath[0] == '\0') {
        *error = ERROR_PATH_NOT_FOUND;
        return 0;
    }
    std::size_t used = 0;
    out[0] = '\0';
    const char* rest = windowsPath;
    std::size_t prefix = 0;
    char letter = FoldAscii(windowsPath[0]);
    if (letter >= 'a' && letter <= 'z' && windowsPath[1] == ':') {
        rest = windowsPath + 2;
        if (letter != 'z') {
            const char* sandbox = std::getenv("HOSTWIN_SANDBOX");
            if (sandbox == nullptr || sandbox[0] == '\0') {
                *error = ERROR_PATH_NOT_FOUND;
                return 0;
            }
            char drive[3] = {'/', letter, '\0'};
            if (!Append(out, capacity, used, sandbox, std::strlen(sandbox)) ||
                !Append(out, capacity, used, drive, 2)) {
                *error = ERROR_INVALID_NAME;
                return 0;
            }
            prefix = used;
        }
        if (*rest != '\\' && *rest != '/' && !Append(out, capacity, used, "/", 1)) {
            *error = ERROR_INVALID_NAME;
            return 0;
        }
    }
    for (const char* p = rest; *p != '\0'; ++p) {
        char c = (*p == '\\') ? '/' : *p;
        if (!Append(out, capacity, used, &c, 1)) {
            *error = ERROR_INVALID_NAME;
            return 0;
        }
    }
    ResolveCase(out, prefix);
    return 1;
}

std::size_t HostToWindowsPath(const char* hostPath, char* out, std::size_t capacity)
{
    char letter = 'Z';
    const char* rest = hostPath;
    const char* sandbox = std::getenv("HOSTWIN_SANDBOX");
    if (sandbox != nullptr && sandbox[0] != '\0') {
        std::size_t n = std::strlen(sandbox);
        while (n > 1 && sandbox[n - 1] == '/')
            --n;
        if (std::strncmp(hostPath, sandbox, n) == 0 && hostPath[n] == '/' &&
            hostPath[n + 1] >= 'a' && hostPath[n + 1] <= 'z' &&
            (hostPath[n + 2] == '/' || hostPath[n + 2] == '\0')) {
            letter = static_cast<char>(hostPath[n + 1] - 'a' + 'A');
            rest = hostPath + n + 2;
        }
    }
    std::size_t used = 0;
    if (capacity < 4)
        return 0;
    out[used++] = letter;
    out[used++] = ':';
    if (*rest != '/')
        out[used++] = '\\';
    for (const char* p = rest; *p != '\0'; ++p) {
        if (used + 1 >= capacity)
            return 0;
        out[used++] = (*p == '/') ? '\\' : *p;
    }
    out[used] = '\0';
    return used;
}
