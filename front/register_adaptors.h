// Every adaptor class this build has, registered for its kind. Both programs call it
// once before building a job.
#pragma once

namespace trundle {

void RegisterAllAdaptors();

}  // namespace trundle
