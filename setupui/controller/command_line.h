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

// The token of "/Run:<token>" (registration for one installation run):
// RunTokenKind::None without the switch, Invalid when the token is empty, longer
// than 64 characters or has characters other than letters, digits, "-", "_"
// and ".".
enum class RunTokenKind { None, Valid, Invalid };
RunTokenKind ParseRunToken(const std::wstring& commandLine, std::wstring* token);

}  // namespace controller
}  // namespace vellum
