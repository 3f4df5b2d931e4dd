#include "databases/core/table_engine.h"

#include <mutex>

#include "engine/ascii.h"

namespace trundle {
namespace {

// Engines live behind unique_ptr so that the pointers handed out stay valid when more are
// registered; a replacement overwrites the engine in place for the same reason.
struct Registry {
  std::mutex mutex;
  std::vector<std::unique_ptr<TableEngine>> engines;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

void RegisterTableEngine(TableEngine engine) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  for (auto& known : registry.engines) {
    if (known->name == engine.name) {
      *known = std::move(engine);
      return;
    }
  }
  registry.engines.push_back(std::make_unique<TableEngine>(std::move(engine)));
}

const TableEngine* EngineForPath(const std::string& path) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  for (const auto& engine : registry.engines)
    for (const std::string& extension : engine->extensions)
      if (!extension.empty() && EndsWithIgnoringAsciiCase(path, extension)) return engine.get();
  return nullptr;
}

const TableEngine* EngineByName(const std::string& name) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  for (const auto& engine : registry.engines)
    if (engine->name == name) return engine.get();
  return nullptr;
}

std::vector<const TableEngine*> RegisteredTableEngines() {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  std::vector<const TableEngine*> all;
  for (const auto& engine : registry.engines) all.push_back(engine.get());
  return all;
}

}  // namespace trundle
