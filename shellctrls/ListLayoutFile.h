#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

// The file list's layout file: an INI file beside the executable whose
// sections each keep one list's columns, view style and sort, as integer
// keys "ColumnsCount", "Columns"i, "ColumnsWidth"i, "ViewStyle",
// "SortOrder"i and "SortType". The file is only ever read after its name
// was found to be a regular file, and written whole or not at all; keys and
// sections of others survive a save.

/// Columns whose sort direction the file keeps.
constexpr int kListLayoutSortColumns = 5;

/// The layout file of this program: the executable's name with ".ini" in
/// place of its extension, in ApplicationDirectory(). Empty when there is no
/// directory to keep it in.
std::string ListLayoutFilePath();

/// A layout as read, in the order the list applies it: the column order
/// array, the widths, the view style, the directions, the sort column.
struct TListLayout
{
    /// "ColumnsCount" as the file holds it; none when it is missing or no
    /// integer. 0 means that nothing else was read: the list applies
    /// nothing (NothingToApply).
    std::optional<int> ColumnsCount;
    /// The column shown at each display position and the width of each
    /// column in pixels, both as long as the columns present. None when the
    /// column keys were ignored (a count of other columns, an order that is
    /// not a permutation, a width out of 0..10,000): the list keeps its
    /// columns as they are.
    std::optional<std::vector<int>> ColumnOrder;
    std::optional<std::vector<int>> ColumnWidths;
    /// 0 vsIcon, 1 vsSmallIcon, 2 vsList, 3 vsReport.
    int ViewStyle = 0;
    /// Per column: 1 ascending, -1 descending.
    std::array<int, kListLayoutSortColumns> SortOrders{1, 1, 1, 1, 1};
    /// The sort column, 0..4.
    int SortType = 0;

    bool NothingToApply() const { return ColumnsCount == 0; }
};

/// What a load found wrong; the layout read is usable whatever it says.
struct TLoadReport
{
    /// The file was refused as a key file and read as absent; the next save
    /// moves it aside before it writes a fresh one.
    bool Malformed = false;
    /// One line per thing read as absent or default: an unreadable file, a
    /// refused file, each ignored key.
    std::vector<std::string> Problems;
};

/// Reads the section `section` of the layout file `path` for a list that
/// shows `presentColumns` columns. Missing keys take their defaults (order
/// i, width 30, view style 0, ascending, sort column 0); a value that is
/// no 32-bit decimal integer or out of its range keeps its default; no
/// file, a special file, an unreadable or a refused file: all defaults.
TListLayout LoadListLayout(const std::string& path, const std::string& section, int presentColumns,
                           TLoadReport* report = nullptr);

/// A list's layout to be saved.
struct TListLayoutSave
{
    /// The column shown at each display position and each column's width;
    /// both are written only when there is more than one column, so that a
    /// virtual folder's single column leaves the stored ones alone.
    std::vector<int> ColumnOrder;
    std::vector<int> ColumnWidths;
    int ViewStyle = 0;
    std::array<int, kListLayoutSortColumns> SortOrders{1, 1, 1, 1, 1};
    int SortType = 0;
};

/// Writes `values` into the section `section` of the layout file `path`,
/// keeping the file's other keys, sections and comments. A file that the
/// loader refuses is first renamed aside to its name + ".malformed-" + a
/// local time stamp (YYYYMMDD-HHMMSS), never overwritten; a symbolic link
/// is written through to its target. False when nothing was written, with
/// the reason in `error` when given; an existing file that cannot be read
/// (a special file, no permission) is left alone.
bool SaveListLayout(const std::string& path, const std::string& section,
                    const TListLayoutSave& values, std::string* error = nullptr);
