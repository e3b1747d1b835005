// Sources of bytes besides a file: a text held in memory (a catalogue, a
// marker).
#pragma once

#include <memory>
#include <string>

#include "storage/storage.h"

namespace qn::storage {

std::unique_ptr<ByteSource> TextSource(std::string bytes);

}  // namespace qn::storage
