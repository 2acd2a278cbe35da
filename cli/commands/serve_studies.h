// The studies the workstation shows, on the archive the program opened:
// the worklist and a study as `bplink archive studies` and `bplink history`
// read them, and a recording's downloads as `bplink export` and `bplink
// report --recording` write them.
#pragma once

#include <bplink/archive/archive.h>
#include <bplink/web/studies.h>

#include <memory>

namespace bplink::cli {

std::unique_ptr<web::Studies> StudiesAt(const archive::Location& location);

}  // namespace bplink::cli
