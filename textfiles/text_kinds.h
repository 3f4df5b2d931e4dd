// The declarations (engine/kind.h) of the text kinds: comma- and tab-delimited text, and
// the HTML page, which is written only.
#pragma once

#include "engine/kind.h"

namespace trundle {

KindDeclaration CsvKind();
KindDeclaration TabTextKind();
KindDeclaration HtmlKind();

}  // namespace trundle
