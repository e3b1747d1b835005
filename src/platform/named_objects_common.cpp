// What the named objects of every platform share.
#include "platform/named_objects.h"

namespace qn::platform {

bool NameExists(NamedObjectKind kind, const std::string& name) {
  switch (kind) {
    case NamedObjectKind::Mutex: return NamedMutex::Open(name) != nullptr;
    case NamedObjectKind::Event: return NamedEvent::Open(name) != nullptr;
    case NamedObjectKind::Section: return SharedMemory::Open(name) != nullptr;
  }
  return false;
}

}  // namespace qn::platform
