#include "engine/value_changes.h"

namespace trundle {
namespace {

thread_local ValueChanges* g_current = nullptr;

}  // namespace

ValueChanges::Scope::Scope(ValueChanges& changes) : previous_(g_current) { g_current = &changes; }

ValueChanges::Scope::~Scope() { g_current = previous_; }

int64_t ValueChanges::Count(const std::string& field) const {
  const auto found = counts_.find(field);
  return found == counts_.end() ? 0 : found->second;
}

void CountValueChanged(const std::string& field, int64_t n) {
  if (g_current) g_current->Add(field, n);
}

}  // namespace trundle
