// Every adaptor class the program has, registered for its kind.
#pragma once

namespace trundle {

void RegisterAllAdaptors();

}  // namespace trundle
