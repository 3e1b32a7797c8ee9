// Which names a patch may write or delete: the loose-file names of patch files (kinds 3 and 4) and
// the "ext" entries of patch archives, checked by the launcher before it touches the disk and by
// the tools before they build a patch. Pure: a name in, a verdict out.
#pragma once

#include <string>

namespace packformat {

// True when `name` is a path inside the installation folder that names one ordinary file, as
// Windows resolves it. Refused, with a short reason in *why (a static text; may be null):
//   - the empty name;
//   - a rooted name ("\x", "/x"), a UNC name, a drive letter or any other ':' (a stream name);
//   - an empty component ("a//b", a trailing separator);
//   - a component that ends in a dot or a space: Windows drops those, so "a." and "a" would be one
//     file, and "..", ". ." or "." leave or repeat a folder;
//   - a component that is a reserved device name in any letter case, alone or with an extension:
//     CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9 (also with the superscript digits 1, 2, 3 of the
//     ANSI page), CONIN$, CONOUT$ ("nul.txt" and "sub\COM1.txt" open the device, not a file).
// Both '\' and '/' separate components.
bool isInstallationPath(const std::string& name, const char** why = nullptr);

}  // namespace packformat
