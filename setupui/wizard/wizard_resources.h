// Resource identifiers of the wizard window. The pictures live in the program
// that links the wizard; its resource script includes the wizard's fragments:
//
//   #include "wizard_resources.rc"   // the two wizard pictures
//   #include "wizard_icon.rc"        // the program icon (IDI_VELLUMSETUP)
//
// Both fragments name their files relative to setupui/wizard/res, which the
// vellum_wizard target puts on its users' include path (the resource
// compiler searches it for the files as well).
#pragma once

#define IDI_VELLUMSETUP 1        /* program icon: 16x16 and 32x32, 16 and 256 colours */
#define IDB_WIZARD_SIDE 3101     /* Image1: side picture, 164 x 314, 16 colours */
#define IDB_WIZARD_EMBLEM 3102   /* Image2: banner emblem, 55 x 55, 16 colours */
