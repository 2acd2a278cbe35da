// The archive library behind the workstation's filing (web/archiving.h).
#pragma once

#include <bplink/archive/archive.h>
#include <bplink/web/archiving.h>

#include <memory>
#include <string>

namespace bplink::web {

// Opens the archive at `location` once, to prove it can be used and to learn
// who works on it; every download is then filed through a connection of its
// own, under `station`. Throws archive::ArchiveError.
std::unique_ptr<Archiving> ArchiveAt(const archive::Location& location, std::string station);

}  // namespace bplink::web
