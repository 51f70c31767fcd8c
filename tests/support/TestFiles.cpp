#include "tests/support/TestFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
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

void Check(bool ok, const std::string& what)
{
    if (!ok)
        throw std::system_error(errno, std::generic_category(), what);
}

void MakeSocket(const std::string& path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    Check(fd >= 0, "socket");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    Check(path.size() < sizeof(address.sun_path), "socket path too long");
    path.copy(address.sun_path, path.size());
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    Check(bound, "bind " + path);
}

int RunInChild(const std::function<int()>& body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        int code = 100;
        try {
            code = body();
        } catch (...) {
            code = 101;
        }
        ::_exit(code);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TLocalZone::TLocalZone(const char* zone)
{
    if (const char* previous = std::getenv("TZ")) {
        hadPrevious_ = true;
        previous_ = previous;
    }
    setenv("TZ", zone, 1);
    tzset();
}

TLocalZone::~TLocalZone()
{
    if (hadPrevious_)
        setenv("TZ", previous_.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TScopedVariable::TScopedVariable(const char* name, const std::string& value) : name_(name)
{
    if (const char* old = std::getenv(name)) {
        hadOld_ = true;
        old_ = old;
    }
    setenv(name, value.c_str(), 1);
}

TScopedVariable::~TScopedVariable()
{
    if (hadOld_)
        setenv(name_, old_.c_str(), 1);
    else
        unsetenv(name_);
}
