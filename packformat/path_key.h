// The key of a stored file: the djb2 hash of its path after normalisation.
#pragma once

#include <cstddef>
#include <cstdint>

namespace packformat {

// Longest path that can be normalised; the normalised text plus its zero fits 1024 bytes.
constexpr size_t MaxPathLength = 1023;
constexpr size_t NormalisedPathBufferSize = MaxPathLength + 1;

// Normalises `path` into `out` (at least NormalisedPathBufferSize bytes): trailing then leading
// spaces dropped, '/' turned into '\', a '\' directly followed by another '\' written once, letters
// a-z upper-cased (always the classic locale, whatever the host process set). Returns false, with
// `out` empty, when the path is longer than MaxPathLength characters. `out` may be `path` itself
// (normalising in place).
bool normalisePath(const char* path, char* out);

// djb2 over the bytes of an already normalised text, each byte taken as a signed 8-bit value.
uint32_t hashNormalisedPath(const char* normalised);

// pathKey: normalise then hash. Returns false when the path is too long to normalise.
bool pathKey(const char* path, uint32_t* key);

}  // namespace packformat
