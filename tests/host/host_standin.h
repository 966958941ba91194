// Declarations the portable code needs when built for the build machine.
// CharUpperBuffA follows Windows code page 1252, IsDBCSLeadByte the code
// page a test plays (host_standin.cpp); the runtime calls map onto POSIX
// ones with the same results for binary data.
#pragma once

#include <cstdint>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

typedef uint32_t DWORD;
typedef int BOOL;
typedef unsigned char BYTE;
typedef char CHAR;
typedef CHAR* LPSTR;

DWORD CharUpperBuffA(LPSTR text, DWORD length);
BOOL IsDBCSLeadByte(BYTE c);

// The ANSI code page IsDBCSLeadByte plays: 932, 936, 949, 950 or 1252.
void SetHostCodePage(unsigned codePage);

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
};

inline char* _itoa(int value, char* out, int /*radix: always 10 here*/)
{
    std::snprintf(out, 12, "%d", value);
    return out;
}

inline int _fileno(FILE* f)
{
    return fileno(f);
}

inline long _filelength(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return -1;
    return static_cast<long>(st.st_size);
}
