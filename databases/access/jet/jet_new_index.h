// The pieces of a new table's definition that describe its indexes (NewIndex), as Access
// writes them for a primary key or a unique index over columns of the table itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "databases/access/jet/jet_pages.h"
#include "databases/access/jet/jet_table_creator.h"
#include "engine/codepage.h"

namespace trundle::jet {

// The engine's message for indexes a new table cannot have, empty when they are good.
std::string CheckNewIndexes(const std::vector<NewColumn>& columns,
                            const std::vector<NewIndex>& indexes);

// The blocks right after the definition's header, one per index: the count of its
// distinct keys (0 for an empty table) between unknown fields.
void AppendIndexCounts(const Format& format, size_t count, std::vector<uint8_t>& out);

// After the column names: each index's definition (key columns, usage map, root page,
// flags), then the logical indexes that name them (in the engine's order of names,
// letter case ignored), then those names. pages: layout.index_pages.
void AppendIndexDefinitions(const Format& format, const std::vector<NewIndex>& indexes,
                            const std::vector<std::pair<uint32_t, uint32_t>>& pages,
                            TextCodec* jet3_names, std::vector<uint8_t>& out);

// An index's first page for a table without rows: a leaf without entries.
std::vector<uint8_t> EmptyIndexRoot(const Format& format, uint32_t owner);

}  // namespace trundle::jet
