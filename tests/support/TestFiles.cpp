#include "tests/support/TestFiles.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>
#include <vector>

TTestDir::TTestDir()
{
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tunemill-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TTestDir::~TTestDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TTestDir::File(const std::string& name) const
{
    return path_ + "/" + name;
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

bool FileExists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

std::string ReadErrorLogs(const std::string& directory)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("TML-", 0) == 0)
            names.push_back(entry.path().string());
    }
    std::sort(names.begin(), names.end());
    std::string all;
    for (const std::string& name : names)
        all += ReadFileBytes(name);
    return all;
}

size_t CountOccurrences(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}
