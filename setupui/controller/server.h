// The local server: one process per controller object.
//
// The class object is registered REGCLS_SINGLEUSE, so every CreateObject of
// the installation script starts a VellumSetup process of its own and one
// process serves exactly one controller. The controller's windows, its
// closeAll (which ends the process) and its lifetime then belong to one
// client alone, and a second script can never end or steer the first
// script's wizard.
//
// Lifetime: the process ends when its controller has been released (the
// script ended, or died and COM ran its references down), when the process
// that launched it has ended (where COM launches the server from the
// client's process and never runs a dead client's references down, as Wine
// does), or after closeAll / closeProgress once their call has returned; a
// process that COM started but no client ever connected to ends after
// kConnectTimeoutMs. Ending hides the windows at once; the process then
// serves the calls still under way (the reply to the last one, the client's
// release) for at most kLastCallsMs and ends without waiting on COM.
#pragma once

namespace vellum {
namespace controller {

constexpr unsigned kConnectTimeoutMs = 60000;
// A dead client's windows should go about as soon as the client does; the
// check is one wait with no time-out.
constexpr unsigned kLauncherPollMs = 200;
constexpr unsigned kLastCallsMs = 5000;
constexpr unsigned kReleaseReplyMs = 200;

// Serves the class until the process is to end; returns the exit code.
int RunServer();

}  // namespace controller
}  // namespace vellum
