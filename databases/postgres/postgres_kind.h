#pragma once

#include "engine/kind.h"

namespace trundle {

// PostgreSQL through libpq: "postgresql", alias "pg".
KindDeclaration PostgresKind();

}  // namespace trundle
