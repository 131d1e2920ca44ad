// The texts of VellumSetup's maintenance build (uninstall and repair), which
// has no wizard to lend it a catalogue: it reads a catalogue of its own,
// MaintenanceUIText_<locale>.xml beside the program, with the same lookup
// and safety checks as the wizard, for the locale the installation chooses.
#pragma once
#include <string>

namespace vellum {
namespace wizard {

// The catalogue beside the program for the locale, or empty when the locale
// could reach outside that folder or name no file of ours (anything but
// letters, digits, "-" and "_"): the texts are then the English ones.
std::wstring MaintenanceCataloguePath(const std::wstring& programPath, const std::wstring& locale);

// The text of key from the maintenance catalogue, else the fallback. The
// full build has no such catalogue and always gives the fallback.
std::wstring MaintenanceText(const wchar_t* key, const wchar_t* fallback);

}  // namespace wizard
}  // namespace vellum
