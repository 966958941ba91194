// Scratch files for tests, in the working directory, removed at the end.
#pragma once

#include <cstdio>
#include <string>

class ScratchFile {
public:
    explicit ScratchFile(const std::string& name) : path_(name) { std::remove(path_.c_str()); }
    ScratchFile(const std::string& name, const std::string& bytes) : ScratchFile(name)
    {
        Write(bytes);
    }
    ~ScratchFile() { std::remove(path_.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    void Write(const std::string& bytes) const
    {
        FILE* f = std::fopen(path_.c_str(), "wb");
        if (f) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
    }
    std::string Read() const
    {
        std::string bytes;
        FILE* f = std::fopen(path_.c_str(), "rb");
        if (!f)
            return "<missing>";
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            bytes.append(buffer, n);
        std::fclose(f);
        return bytes;
    }
    const char* path() const { return path_.c_str(); }

private:
    std::string path_;
};
