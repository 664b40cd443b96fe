#pragma once

namespace App {

// The form's fixed places were drawn for Windows' dialog font and its "Arial" and
// "Courier New"; this makes the application's default font and those families resolve to
// Debian's metric-compatible Liberation families, so that every text fits its place.
// Call once, after the application object exists and before any window is made.
void useFormFonts();

} // namespace App
