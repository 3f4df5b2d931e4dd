#include "engine/adaptor_registry.h"

#include <array>
#include <mutex>

namespace trundle {
namespace {

std::mutex g_mutex;
std::array<AdaptorFactory, kDataKindCount>& Factories() {
  static std::array<AdaptorFactory, kDataKindCount> factories;
  return factories;
}

}  // namespace

void RegisterAdaptor(TDataKind kind, AdaptorFactory factory) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (kind < kDataKindCount) Factories()[kind] = std::move(factory);
}

std::unique_ptr<TTrundleUnknown> MakeAdaptor(TDataKind kind) {
  AdaptorFactory factory;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (kind < kDataKindCount) factory = Factories()[kind];
  }
  if (kind == dkUnknown || !factory) return std::make_unique<TTrundleUnknown>();
  return factory();
}

bool IsAdaptorRegistered(TDataKind kind) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return kind < kDataKindCount && kind != dkUnknown && Factories()[kind] != nullptr;
}

}  // namespace trundle
