// Sources of bytes besides a file: a text held in memory (a catalogue, a
// marker), and an object of a place read as a source (a download from a
// destination into the local folder).
#pragma once

#include <memory>
#include <string>

#include "storage/storage.h"

namespace qn::storage {

std::unique_ptr<ByteSource> TextSource(std::string bytes);
// The place's Read runs on a thread of the source's own and hands its
// pieces over through a small buffer, so memory stays bounded whatever the
// object's size; its failure is thrown by Read. size is what the place
// reports (-1 when unknown). The place must outlive the source.
std::unique_ptr<ByteSource> ObjectSource(Storage& place, const std::string& name, int64_t size = -1);

}  // namespace qn::storage
