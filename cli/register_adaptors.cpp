#include "cli/register_adaptors.h"

#include "textfiles/trundle_text.h"

namespace trundle {

void RegisterAllAdaptors() { RegisterTextAdaptors(); }

}  // namespace trundle
