// Loader of the snippet tables: comma-separated text files, one per language, whose first line is
// the header and whose every further line is one snippet (name, inserted text, extra columns).
//
// The delimiter is not fixed: it is detected from the first two lines among ten candidates, and the
// splitting keeps the quoting rules of the grid loader these files were first written for (a quoted
// leading field keeps delimiters literally; "" stands for one quote; any other quote is dropped).
// Files written for that loader must keep splitting the same way, so the rules below are kept to
// the letter, oddities included (a trailing delimiter adds no empty field).
//
// Fields are returned as the file's bytes; nothing is decoded here.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

using TCsvRow = std::vector<std::string>;
using TCsvTable = std::vector<TCsvRow>;

// The candidates in the order detection tries them.
inline constexpr std::string_view CsvDelimiterCandidates = ",;#\t|@*-+&";

// The delimiter for a file whose first two lines are line1 and line2 (line2 empty for a one-line
// file), or nothing when no candidate occurs at all (each line is then one field).
std::optional<char> DetectCsvDelimiter(std::string_view line1, std::string_view line2);

// Splits one line (without its line end) into fields. Without a delimiter the line is one field
// (after the same quote treatment as a last field). An empty line gives no fields.
TCsvRow SplitCsvLine(std::string_view line, std::optional<char> delimiter);

// Splits text into lines as the loader reads them: a line ends at LF or CR LF; a last line without
// line end still counts; a line end at the very end adds no empty line.
std::vector<std::string_view> SplitCsvLines(std::string_view text);

// One row per line, row 0 being the header; empty lines give empty rows.
TCsvTable ParseShortcutCsv(std::string_view text);

// Reads the file at path and parses it. Throws EVarnelloError "Cannot open file <path>" when the
// file cannot be opened or read.
TCsvTable LoadShortcutCsv(const std::string& path);
