#pragma once

// Joins `first` with the further NUL-terminated strings passed after it, up to a null pointer
// that the caller must pass last, e.g. strcat_0 (name, "  ", label, nullptr).
//
// When nothing is appended (no further strings, or only empty ones) or the allocation fails,
// `first` itself comes back and nothing is to be released. Otherwise the result is a new block
// from malloc that the caller owns and releases with free. Compare the result with `first` to
// tell the two cases apart.
char* strcat_0 (char* first, ...);
