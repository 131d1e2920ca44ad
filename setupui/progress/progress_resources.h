// Resource identifiers of the progress window (its icon is bound into
// VellumSetup's resource script through progress.rc).
#pragma once
#define IDI_PROGRESS_WINDOW 201
