// Downloads of the patch server's resources through the release manifest, for a launcher built with
// a release key; without one they are the plain downloads they always were. Windows only: runs on
// the patch session's worker thread.
#pragma once

namespace session {

// Downloads "manifest.sig" and accepts it (release_trust.h). True without a built-in key. False, with
// the reason in the debug log, when it cannot be fetched or is not to be trusted: the caller fails as
// for a failed download of the patch list.
bool fetchReleaseManifest();

// Downloads the resource `name` at `url` into `localPath`. With a built-in key, a resource the
// manifest does not list is not fetched, a transfer longer than its listed size is cut off, and the
// file must then match the listed size and SHA-256; a file that does not is deleted, with a debug log
// line naming it and why, and the download counts as failed.
bool downloadReleaseFile(const char* localPath, const char* url, const char* name);

}  // namespace session
