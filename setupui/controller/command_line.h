// The switches VellumSetup understands. COM starts the server with
// -Embedding (older callers with /Automation); installers register it with
// /RegServer and remove it with /UnregServer. Case does not matter and both
// "-" and "/" introduce a switch.
#pragma once
#include <string>

namespace vellum {
namespace controller {

enum class ServerSwitch { None, RegServer, UnregServer, Embedding };

// The first switch of the command line that VellumSetup knows.
ServerSwitch ParseServerSwitch(const std::wstring& commandLine);

}  // namespace controller
}  // namespace vellum
