// Registry spellings of the identifiers fixed in VellumSetup.idl (the binary
// GUIDs come from the IDL compiler; a unit test keeps the two in step).
#pragma once

namespace vellum {
namespace controller {

constexpr const wchar_t* kClsidString = L"{6DF5EC40-6B6B-49E0-B5D9-8AE466B02026}";
constexpr const wchar_t* kIidString = L"{BC6D203F-91E0-45B3-82AB-BA7F5E90E554}";
constexpr const wchar_t* kLibidString = L"{90479F93-E136-42D0-92D7-9261CFE1719D}";
constexpr const wchar_t* kProgId = L"VellumSetup.controller";
constexpr const wchar_t* kLibraryName = L"VellumSetup";
constexpr const wchar_t* kInterfaceName = L"_controller";
// The type library marshaler (PSOAInterface) serves dual interfaces.
constexpr const wchar_t* kOleAutomationProxy = L"{00020424-0000-0000-C000-000000000046}";

}  // namespace controller
}  // namespace vellum
