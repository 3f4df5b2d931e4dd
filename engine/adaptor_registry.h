// Which adaptor class serves which kind. The kinds' own folders register their classes
// (textfiles, databases); the job asks here when a kind is set, so the engine depends on
// none of them.
#pragma once

#include <functional>
#include <memory>

#include "engine/trundle_unknown.h"

namespace trundle {

using AdaptorFactory = std::function<std::unique_ptr<TTrundleUnknown>()>;

// Replaces any earlier factory for the kind.
void RegisterAdaptor(TDataKind kind, AdaptorFactory factory);
// A fresh adaptor of the kind; the base adaptor (dkUnknown) for a kind nobody registered.
std::unique_ptr<TTrundleUnknown> MakeAdaptor(TDataKind kind);
// True when a class of its own serves the kind.
bool IsAdaptorRegistered(TDataKind kind);

}  // namespace trundle
