#include "shellctrls/ListLayoutFile.h"

#include "platform/core/AppDir.h"
#include "platform/core/FileIO.h"
#include "platform/core/Posix.h"

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kDefaultColumnWidth = 30;
constexpr int kMaxColumnWidth = 10'000;
constexpr int kMaxViewStyle = 3;

struct TKeyFileUnref
{
    void operator()(GKeyFile* file) const { g_key_file_unref(file); }
};
using TKeyFile = std::unique_ptr<GKeyFile, TKeyFileUnref>;

enum class TFileState
{
    Missing,
    Unreadable,
    Malformed,
    Loaded
};

struct TReadKeyFile
{
    TFileState State = TFileState::Missing;
    /// Empty unless Loaded, so that a caller can always read and write it.
    TKeyFile File{g_key_file_new()};
    std::string Reason;
};

// Opening a name blindly would hang on a FIFO (as g_key_file_load_from_file
// does), so the bytes come from the checked reader and GLib parses them.
TReadKeyFile ReadKeyFile(const std::string& path)
{
    TReadKeyFile result;
    std::string bytes;
    if (!ReadRegularFile(path, bytes)) {
        result.State = errno == ENOENT ? TFileState::Missing : TFileState::Unreadable;
        result.Reason = path + ": " + FileErrorText(errno);
        return result;
    }
    GError* error = nullptr;
    if (!g_key_file_load_from_data(
            result.File.get(), bytes.data(), bytes.size(),
            static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS),
            &error)) {
        result.State = TFileState::Malformed;
        result.Reason = path + ": " + error->message;
        g_error_free(error);
        result.File.reset(g_key_file_new());
        return result;
    }
    result.State = TFileState::Loaded;
    return result;
}

std::string Key(const char* stem, int index)
{
    return stem + std::to_string(index);
}

std::string Trimmed(const char* text)
{
    std::string value(text);
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!value.empty() && space(value.back()))
        value.pop_back();
    size_t start = 0;
    while (start < value.size() && space(value[start]))
        ++start;
    return value.substr(start);
}

class TLayoutReader
{
public:
    TLayoutReader(GKeyFile* file, const std::string& section, TLoadReport& report)
        : file_(file), section_(section), report_(report)
    {
    }

    /// The key's value when it is a decimal 32-bit integer. GLib's own
    /// integer reading would take "3 x" as 3.
    std::optional<int> Integer(const std::string& key)
    {
        gchar* raw = g_key_file_get_value(file_, section_.c_str(), key.c_str(), nullptr);
        if (raw == nullptr)
            return std::nullopt;
        const std::string text = Trimmed(raw);
        g_free(raw);
        int value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
            Problem("'" + key + "' = '" + text + "' is no 32-bit integer");
            return std::nullopt;
        }
        return value;
    }

    int InRange(const std::string& key, int lowest, int highest, int fallback)
    {
        const std::optional<int> value = Integer(key);
        if (!value)
            return fallback;
        if (*value < lowest || *value > highest) {
            Problem("'" + key + "' = " + std::to_string(*value) + " is out of range");
            return fallback;
        }
        return *value;
    }

    int Direction(const std::string& key)
    {
        const std::optional<int> value = Integer(key);
        if (!value)
            return 1;
        if (*value != 1 && *value != -1) {
            Problem("'" + key + "' = " + std::to_string(*value) + " is no direction");
            return 1;
        }
        return *value;
    }

    void Problem(const std::string& text) { report_.Problems.push_back(text); }

private:
    GKeyFile* file_;
    const std::string& section_;
    TLoadReport& report_;
};

// All column keys or none: an order taken without its widths, or from a
// file written for other columns, would scramble the header.
void ReadColumns(TLayoutReader& reader, int count, int presentColumns, TListLayout& layout)
{
    if (count != presentColumns) {
        reader.Problem("'ColumnsCount' = " + std::to_string(count) + " does not match the " +
                       std::to_string(presentColumns) + " columns shown; column keys ignored");
        return;
    }
    std::vector<int> order(static_cast<size_t>(count));
    std::vector<bool> seen(order.size());
    for (int i = 0; i < count; ++i) {
        const int column = reader.Integer(Key("Columns", i)).value_or(i);
        if (column < 0 || column >= count || seen[static_cast<size_t>(column)]) {
            reader.Problem("the column order is no permutation; column keys ignored");
            return;
        }
        seen[static_cast<size_t>(column)] = true;
        order[static_cast<size_t>(i)] = column;
    }
    std::vector<int> widths(order.size());
    for (int i = 0; i < count; ++i) {
        const int width = reader.Integer(Key("ColumnsWidth", i)).value_or(kDefaultColumnWidth);
        if (width < 0 || width > kMaxColumnWidth) {
            reader.Problem("'" + Key("ColumnsWidth", i) + "' = " + std::to_string(width) +
                           " is out of range; column keys ignored");
            return;
        }
        widths[static_cast<size_t>(i)] = width;
    }
    layout.ColumnOrder = std::move(order);
    layout.ColumnWidths = std::move(widths);
}

} // namespace

std::string ListLayoutFilePath()
{
    const std::string directory = ApplicationDirectory();
    if (directory.empty())
        return {};
    const std::string self = "/proc/self/exe";
    const std::string executable = LinkTarget(self);
    std::string name = executable == self ? "tunemill" : executable;
    // A rebuilt program still running names its old file so.
    const std::string deleted = " (deleted)";
    if (name.ends_with(deleted))
        name.resize(name.size() - deleted.size());
    name = name.substr(name.rfind('/') + 1);
    if (const size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0)
        name.resize(dot);
    return directory + name + ".ini";
}

TListLayout LoadListLayout(const std::string& path, const std::string& section, int presentColumns,
                           TLoadReport* report)
{
    TLoadReport ownReport;
    TLoadReport& found = report != nullptr ? *report : ownReport;
    found = {};
    TListLayout layout;
    // An absent, unreadable or refused file reads on as an empty one, so
    // that every key takes its default.
    const TReadKeyFile read = ReadKeyFile(path);
    found.Malformed = read.State == TFileState::Malformed;
    if (read.State == TFileState::Unreadable || read.State == TFileState::Malformed)
        found.Problems.push_back(read.Reason + "; read as absent");

    TLayoutReader reader(read.File.get(), section, found);
    layout.ColumnsCount = reader.Integer("ColumnsCount");
    if (layout.NothingToApply())
        return layout;
    ReadColumns(reader, layout.ColumnsCount.value_or(presentColumns), presentColumns, layout);
    layout.ViewStyle = reader.InRange("ViewStyle", 0, kMaxViewStyle, 0);
    for (int i = 0; i < kListLayoutSortColumns; ++i)
        layout.SortOrders[static_cast<size_t>(i)] = reader.Direction(Key("SortOrder", i));
    layout.SortType = reader.InRange("SortType", 0, kListLayoutSortColumns - 1, 0);
    return layout;
}

bool SaveListLayout(const std::string& path, const std::string& section,
                    const TListLayoutSave& values, std::string* error)
{
    const auto fail = [&](const std::string& why) {
        if (error != nullptr)
            *error = why;
        return false;
    };
    if (path.empty())
        return fail("there is no directory to keep the layout file in");
    // GLib refuses such a group name with a critical warning and writes nothing.
    const auto refused = [](unsigned char c) {
        return c == '[' || c == ']' || c < 0x20 || c == 0x7f;
    };
    if (section.empty() || std::any_of(section.begin(), section.end(), refused))
        return fail("'" + section + "' cannot name a section");
    if (values.ColumnOrder.size() != values.ColumnWidths.size())
        return fail("the column order and the widths differ in length");

    TReadKeyFile read = ReadKeyFile(path);
    if (read.State == TFileState::Unreadable)
        return fail(read.Reason + "; left as it is");
    mode_t mode = 0644;
    if (read.State == TFileState::Malformed) {
        const std::string target = LinkTarget(path);
        struct stat facts;
        if (::stat(target.c_str(), &facts) == 0)
            mode = facts.st_mode & 07777;
        if (MoveMalformedFileAside(target).empty())
            return fail(read.Reason + "; it could not be moved aside: " + FileErrorText(errno));
    }

    GKeyFile* file = read.File.get();
    const char* group = section.c_str();
    const int count = static_cast<int>(values.ColumnOrder.size());
    if (count > 1) {
        g_key_file_set_integer(file, group, "ColumnsCount", count);
        for (int i = 0; i < count; ++i) {
            const auto at = static_cast<size_t>(i);
            g_key_file_set_integer(file, group, Key("Columns", i).c_str(), values.ColumnOrder[at]);
            g_key_file_set_integer(file, group, Key("ColumnsWidth", i).c_str(),
                                   values.ColumnWidths[at]);
        }
    }
    g_key_file_set_integer(file, group, "ViewStyle", values.ViewStyle);
    for (int i = 0; i < kListLayoutSortColumns; ++i)
        g_key_file_set_integer(file, group, Key("SortOrder", i).c_str(),
                               values.SortOrders[static_cast<size_t>(i)]);
    g_key_file_set_integer(file, group, "SortType", values.SortType);

    gsize length = 0;
    gchar* data = g_key_file_to_data(file, &length, nullptr);
    const std::string bytes(data, length);
    g_free(data);
    if (!WriteFileAtomically(path, bytes, mode))
        return fail(path + ": " + FileErrorText(errno));
    return true;
}
