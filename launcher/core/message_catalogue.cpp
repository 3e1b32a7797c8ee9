#include "launcher/core/message_catalogue.h"

#include <cstring>

#include "platform/env.h"

namespace core {

namespace {

struct CatalogueRow {
    const char* key;
    const char* text;       // languages 0 and 1
    const char* textLang2;  // language 2
};

// Windows-1252: 0xE7 c-cedilla, 0xE3 a-tilde, 0xE9 e-acute.
const CatalogueRow Catalogue[] = {
    {"WAIT", "Aguarde...", "Aguarde..."},
    {"FAIL_DOWNLOAD", "Falha ao baixar atualiza\xE7\xE3o..", "Falha ao baixar atualiza\xE7\xE3o."},
    {"FAIL_EXTRACT", "Falha ao extrair atualizacao..", "Falha ao extrair atualizacao.."},
    {"PATCH_COMPLETE", "Atualiza\xE7\xE3o completa at\xE9 a vers\xE3o %s.",
     "Atualiza\xE7\xE3o completa at\xE9 a vers\xE3o %s."},
    {"DOWNLOAD_PROGRESS", "Baixando arquivo 'patch_%s'...", "Baixando arquivo 'patch_%s'..."},
    {"PATCH_PROGRESS", "Extraindo arquivos ", "Extraindo arquivos "},
    {"WAIT_START", "Aguarde, iniciando Talvora...", "Aguarde, iniciando Talvora..."},
};

int8_t gLanguage = 0;

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool sameIgnoringCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        if (upper(*a) != *b) return false;
    }
    return *a == *b;
}

}  // namespace

const char* catalogueText(const char* key, int8_t language) {
    for (const CatalogueRow& row : Catalogue) {
        if (!sameIgnoringCase(key, row.key)) continue;
        if (language == 0 || language == 1) return row.text;
        if (language == 2) return row.textLang2;
        return "";
    }
    return "";
}

const char* lookupMessage(char* key) {
    for (char* p = key; *p; ++p) *p = upper(*p);
    return catalogueText(key, gLanguage);
}

int8_t languageFromProfileValue(int32_t value) {
    return static_cast<int8_t>(static_cast<uint8_t>(static_cast<uint32_t>(value) & 0xFFu));
}

int8_t languageSetting() { return gLanguage; }

void readLanguageSetting() {
    gLanguage = languageFromProfileValue(platform::defaultEnv().profileInt("PLAY", "LANGUAGE", 0, "./Talvora.ini"));
}

}  // namespace core
