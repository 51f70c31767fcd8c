#pragma once

#include <functional>
#include <string>

// Small file helpers shared by the test layers.

/// A fresh temporary directory, removed with everything in it on destruction.
class TTestDir
{
public:
    TTestDir();
    ~TTestDir();
    TTestDir(const TTestDir&) = delete;
    TTestDir& operator=(const TTestDir&) = delete;

    /// The directory, without a trailing "/".
    const std::string& Path() const { return path_; }
    /// Path() + "/" + name.
    std::string File(const std::string& name) const;

private:
    std::string path_;
};

/// The whole content of a file; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);
/// Writes (creates or truncates) a file; false on failure.
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

/// Everything written to the error logs ("TML-*.LOG") in a directory.
std::string ReadErrorLogs(const std::string& directory);
/// How often `part` occurs in `text`.
size_t CountOccurrences(const std::string& text, const std::string& part);

/// Throws std::system_error with errno when a set-up call failed.
void Check(bool ok, const std::string& what);
/// Body's exit code in a forked child, or -1 when it died (as by an alarm).
int RunInChild(const std::function<int()>& body);
/// Creates a Unix socket file (bound, then closed) at `path`.
void MakeSocket(const std::string& path);

/// Sets the local time zone (a TZ value) for one scope and puts the previous
/// one back.
class TLocalZone
{
public:
    explicit TLocalZone(const char* zone);
    ~TLocalZone();
    TLocalZone(const TLocalZone&) = delete;
    TLocalZone& operator=(const TLocalZone&) = delete;

private:
    bool hadPrevious_ = false;
    std::string previous_;
};

/// Puts an environment variable in place for one scope, then the previous
/// value (or none) back.
class TScopedVariable
{
public:
    TScopedVariable(const char* name, const std::string& value);
    ~TScopedVariable();
    TScopedVariable(const TScopedVariable&) = delete;
    TScopedVariable& operator=(const TScopedVariable&) = delete;

private:
    const char* name_;
    bool hadOld_ = false;
    std::string old_;
};
