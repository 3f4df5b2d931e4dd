// The field types live with the adaptor contract; the table-file engines include them
// from here.
#pragma once

#include "engine/field_types.h"
