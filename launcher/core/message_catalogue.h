// launcher/core/: state shared between the launcher's threads and its window, the message texts and
// the one setting, and the debug log.
//
// The message catalogue: message keys to the Portuguese texts (Windows-1252) chosen by the LANGUAGE
// setting. Unknown keys, and every key under a language other than 0, 1 or 2, give the empty text.
#pragma once

#include <cstdint>

namespace core {

// Pure lookup: `key` compared without regard to letter case (a-z only). Never returns null.
const char* catalogueText(const char* key, int8_t language);

// The launcher's lookup: upper-cases `key` in place (a-z only), then looks it up under the LANGUAGE
// setting read at start-up. Never returns null.
const char* lookupMessage(char* key);

// LANGUAGE as read from "./Talvora.ini" [PLAY] (low 8 bits, signed); 0 until read.
int8_t languageSetting();
// Reads the setting (once, during start-up); also used by tests to reread it.
void readLanguageSetting();
// The low 8 bits of a profile integer, as a signed value: 256 reads as 0, 258 as 2, 255 as -1.
int8_t languageFromProfileValue(int32_t value);

}  // namespace core
