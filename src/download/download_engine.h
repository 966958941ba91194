// Brings the package from the patch server into the target file, following
// the web sign-in pages when the server answers with one.
#pragma once

// Called once per chunk received, after it is written; the text is valid
// only during the call. The result is ignored.
typedef int (*ProgressCallback)(void* instance, const char* text);

// 1 or 0 as an advisory result; the caller judges the download by the file.
// Without a callback nothing is fetched and the target file is untouched.
unsigned char DownloadPatch(const char* url, const char* targetPath, void* instance,
                            ProgressCallback progress);
