// The declarations (engine/kind.h) of the table-file and database kinds that came first:
// dBase and Paradox table files, Access databases and servers reached through ODBC.
#pragma once

#include "engine/kind.h"

namespace trundle {

KindDeclaration DBaseKind();
KindDeclaration ParadoxKind();
KindDeclaration AccessKind();
KindDeclaration ServerKind();

}  // namespace trundle
