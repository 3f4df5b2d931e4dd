// The kinds this build knows, each from its own declaration (engine/kind.h). Adding a
// kind is its folder and one line in kinds.cpp.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/kind.h"

namespace trundle {

// Every declared kind, in the order of their ordinals; the same list on every call.
const std::vector<KindDeclaration>& Kinds();
// The kind's declaration; nullptr for dkUnknown and for a kind this build lacks.
const KindDeclaration* FindKind(TDataKind kind);
// The kind a location is: one whose recogniser claims it (a connection string, a file's
// first bytes), else the kind whose extension it ends in, letter case ignored.
std::optional<TDataKind> KindOfLocation(const std::string& location);
// The kind a name or alias names, letter case ignored.
std::optional<TDataKind> KindOfName(const std::string& name);
// "csv, text, ..., sqlite, postgresql, odbc or pg": every name, then the aliases.
std::string KindNameList();
// The names of the kinds that have every one of `abilities` (KindAbility bits), listed
// as KindNameList lists them, without aliases.
std::string KindNamesWith(uint32_t abilities);

}  // namespace trundle
