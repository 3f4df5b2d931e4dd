// The fields of a new Access table made from a source's fields: their stored names, DAO
// types and sizes.
//
//   const TFieldDefs from = source.SourceFieldDefs(AccessTextLength(nullptr));  // Jet 4
//   const NewAccessTable t = AccessFieldsFor(source.GetKind(), from, jet3);
//   for (const TDAOField& f : t.fields) ...      // in the source's order
//   for (const std::string& line : t.renames) Log(line);
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "databases/access/dao.h"
#include "engine/codepage.h"
#include "engine/field_types.h"
#include "engine/trundle_unknown.h"

namespace trundle {

// Access's longest field or table name, in characters.
inline constexpr size_t kMaxAccessNameChars = 64;

// The name each source name is stored under, parallel to names. A name Access cannot
// store (one of . ! ` [ ], a control character, a leading space, over 64 characters;
// in Jet 3 a character its code page lacks, when jet3_names converts to it) is changed:
// each such character becomes '_', leading spaces go, the name is cut to 64 characters
// (one of spaces only becomes FieldN, N its position from 1) and, when that meets
// another name in any letter case, takes the first free suffix _1, _2, ... Names Access
// can store stay as they are, also when two of them are the same or one is empty: those
// are the source's own faults, which table creation refuses with the engine's message.
std::vector<std::string> AccessFieldNames(const std::vector<std::string>& names,
                                          TextCodec* jet3_names = nullptr);

// A text value's length as a Text field of this database counts it, for the widths of a
// text source (SourceFieldDefs): in Jet 4 (jet3_text null) its UTF-16 code units, in
// Jet 3 its bytes in the database's code page (jet3_text converts UTF-8 to it), each
// counted from the same conversion the table writer stores. The function shares
// jet3_text.
TextLength AccessTextLength(std::shared_ptr<TextCodec> jet3_text);

struct NewAccessTable {
  std::vector<TDAOField> fields;     // in the source's order
  std::vector<std::string> renames;  // "Field X stored as Y", one per changed name
};

// The fields for a source of kind source_kind giving source (its SourceFieldDefs, text
// widths measured by AccessTextLength), in a Jet 3 or Jet 4 database. Types: text sources
// Text(255), dBase, Paradox and Access FieldTypeToDaoType with the source's size, servers
// OracleTypeToDaoType; Required kept from an Access source only; AllowZeroLength on Text
// and Memo fields. Where that type cannot hold the source's values a wider one is taken:
// text longer than 255 characters a Memo, 32-bit integers Long, 64-bit integers Double
// when the source's width (15 digits at most) keeps them exact, else Decimal (19 digits;
// Jet 3, which has no decimal type, Text(20)). jet3_names: UTF-8 to a Jet 3
// database's code page, for its names (may be null).
NewAccessTable AccessFieldsFor(TDataKind source_kind, const TFieldDefs& source, bool jet3,
                               TextCodec* jet3_names = nullptr);

}  // namespace trundle
