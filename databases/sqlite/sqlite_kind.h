// The SQLite kind's declaration (engine/kind.h): a database file of tables and views.
#pragma once

#include "engine/kind.h"

namespace trundle {

KindDeclaration SqliteKind();

}  // namespace trundle
