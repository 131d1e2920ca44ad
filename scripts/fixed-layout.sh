# Sourced first by every script that starts Wine (before it does anything
# else): runs the script again with the kernel's address randomization off,
# for it and for everything it starts.
#
# Why: Debian's 64-bit Wine loader comes without the preloader that reserves
# the fixed addresses Wine needs before anything else is mapped. The loader
# is linked low (0x7d000000) and the kernel puts its heap at a random
# distance above it, up to a gigabyte; now and then (once in some 5,000
# starts here) the heap lands on the shared user data page (0x7ffe0000) and
# the process ends with exit code 1 before the program's code runs, having
# said only "failed to map the shared user data" on an err channel that
# WINEDEBUG=-all hides. A program started by a program (a script host
# started through the shell, a COM server) fails the same way, and its
# starter reports that it could not start it. Without randomization the
# heap sits right after the loader, far below that page. Where the kernel
# refuses the change (a sandbox's filter), the script goes on as it is.
if [ $(( 0x$(cat /proc/self/personality 2>/dev/null || echo 0) & 0x0040000 )) -eq 0 ] &&
    setarch "$(uname -m)" -R true 2>/dev/null; then
    exec setarch "$(uname -m)" -R bash "$0" "$@"
fi
