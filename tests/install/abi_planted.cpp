// An export nobody listed: linked into a copy of libbplink (same objects, same
// version script) so that the ABI test can show the check refuses it.
#include <bplink/export.h>

namespace bplink {

BPLINK_API int PlantedExport();
int PlantedExport() { return 1; }

}  // namespace bplink
