// Directory listings of FTP servers turned into find-data records: MLSD fact lines (RFC 3659),
// Unix "ls -l" lines (recent files with a time, older ones with a year; symlinks by their own
// name) and DOS/IIS lines. Each parser takes one line and says whether it produced a record;
// lines it cannot read ("total 12", banners, junk) are skipped by the caller, never fatal.
// Pure functions: the tests and the fuzz target call them with hand-written bytes.
#pragma once

#include <ctime>
#include <string_view>
#include <vector>

#include "ftp/inet/WinInet.h"

// FILETIME of a UTC calendar time; fields are checked, false when out of range.
bool CivilToFileTime(int year, int month, int day, int hour, int minute, int second, TFileTime& out);

// An RFC 3659 time value, YYYYMMDDHHMMSS[.sss] in UTC, as MLSD's "modify" fact and MDTM's reply
// carry it (what follows the seconds is ignored); false when it is not one.
bool ParseFactTime(std::string_view value, TFileTime& out);

bool ParseMlsdLine(std::string_view line, TWin32FindData& out);
// now: the reference time for "Mon dd HH:MM" lines, which carry no year (the year is the one
// that puts the date no more than a day after now).
bool ParseUnixListLine(std::string_view line, std::time_t now, TWin32FindData& out);
bool ParseDosListLine(std::string_view line, TWin32FindData& out);
bool ParseListLine(std::string_view line, std::time_t now, TWin32FindData& out);

// A line parser that refuses a line only because its name is MAX_PATH bytes or longer leaves
// this mark in dwReserved1 of its output record.
constexpr DWORD FTP_RECORD_NAME_TOO_LONG = 0x4C4F4E47;

// Splits a whole listing into lines (LF or CR LF) and parses each. MLSD listings drop the "cdir"
// and "pdir" entries. Records whose name would not fit the record (empty, NUL, MAX_PATH bytes
// or more) are skipped too: a cut name would name another file; *longNames, when given, counts
// the ones skipped for their length.
// Stops after maxEntries + 1 records, so an oversized listing is cheap to recognise.
std::vector<TWin32FindData> ParseListing(std::string_view data, bool mlsd, std::time_t now,
                                         std::size_t maxEntries = ~std::size_t{0},
                                         std::size_t* longNames = nullptr);
