// The launcher's own payload, checked against its digest before the working
// folder is touched.
#pragma once
#include <windows.h>

namespace vellum {
namespace launcher {

// True when the module's payload resources match the digest it carries.
bool OwnPayloadIsIntact(HMODULE module);

}  // namespace launcher
}  // namespace vellum
