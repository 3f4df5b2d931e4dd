// Helpers for the Jet reader's tests: the fixtures, the oracles (mdb-export, npm's
// mdb-reader) run as programs, and values written in one canonical text so that rows
// from different readers compare as values.
#pragma once

#include <string>
#include <vector>

#include "databases/access/jet/jet_database.h"

namespace trundle::jet_test {

std::string Fixture(const std::string& name);
std::vector<std::string> FixtureNames();  // every .mdb/.accdb in tests/data/access

// Runs a shell command; returns its standard output. exit_status gets the status.
std::string Run(const std::string& command, int* exit_status = nullptr);
std::string Quote(const std::string& text);  // for the shell

// Every row of a table as read by us, each cell canonical (see CanonicalCell).
std::vector<std::string> OurRows(const jet::JetDatabase& db, const std::string& table,
                                 bool system_too = false);
// The same rows as mdb-reader gives them.
std::vector<std::string> ReaderRows(const std::string& file, const std::string& table,
                                    const TFieldDefs& fields);
// As mdb-export gives them, each cell read by the type of our field in that place.
std::vector<std::string> ExportRows(const std::string& file, const std::string& table,
                                    const TFieldDefs& fields);
// The user tables as mdb-reader lists them.
std::vector<std::string> ReaderTables(const std::string& file, bool system_too = false);

// "N", "b:1", "n:<%.15g>", "d:<whole seconds since 1970>", "x:<hex>", "s:<text>".
std::string CanonicalCell(const Variant& v);
// A tab-separated row of canonical cells with empty text and empty OLE values as Null:
// mdb-export cannot tell them apart.
std::string EmptyAsNull(const std::string& row);

}  // namespace trundle::jet_test
