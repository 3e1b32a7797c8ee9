#include "launcher/core/message_catalogue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/temp_dir.h"

using namespace core;

TEST(MessageCatalogue, TextsByLanguage) {
    struct Case {
        const char* key;
        const char *lang01, *lang2;
    };
    const Case cases[] = {
        {"WAIT", "Aguarde...", "Aguarde..."},
        {"FAIL_DOWNLOAD", "Falha ao baixar atualiza\xE7\xE3o..", "Falha ao baixar atualiza\xE7\xE3o."},
        {"FAIL_EXTRACT", "Falha ao extrair atualizacao..", "Falha ao extrair atualizacao.."},
        {"PATCH_COMPLETE", "Atualiza\xE7\xE3o completa at\xE9 a vers\xE3o %s.",
         "Atualiza\xE7\xE3o completa at\xE9 a vers\xE3o %s."},
        {"DOWNLOAD_PROGRESS", "Baixando arquivo 'patch_%s'...", "Baixando arquivo 'patch_%s'..."},
        {"PATCH_PROGRESS", "Extraindo arquivos ", "Extraindo arquivos "},
        {"WAIT_START", "Aguarde, iniciando Talvora...", "Aguarde, iniciando Talvora..."},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(catalogueText(c.key, 0), c.lang01) << c.key;
        EXPECT_STREQ(catalogueText(c.key, 1), c.lang01) << c.key;
        EXPECT_STREQ(catalogueText(c.key, 2), c.lang2) << c.key;
        for (int8_t other : {int8_t{3}, int8_t{-1}, int8_t{127}})
            EXPECT_STREQ(catalogueText(c.key, other), "") << c.key;
    }
    EXPECT_STREQ(catalogueText("NOPE", 0), "");
    EXPECT_STREQ(catalogueText("", 0), "");
    EXPECT_STREQ(catalogueText("WAITX", 0), "");
}

TEST(MessageCatalogue, LookupUpperCasesTheKeyInPlace) {
    char key[] = "wait_start";
    EXPECT_STREQ(lookupMessage(key), "Aguarde, iniciando Talvora...");
    EXPECT_STREQ(key, "WAIT_START");
}

TEST(LanguageSetting, LowEightBitsSigned) {
    struct Case {
        int32_t value;
        int8_t language;
    };
    for (Case c : {Case{0, 0}, Case{2, 2}, Case{256, 0}, Case{258, 2}, Case{255, -1}, Case{-1, -1}, Case{3, 3}}) {
        EXPECT_EQ(languageFromProfileValue(c.value), c.language) << c.value;
    }
}

TEST(LanguageSetting, ReadFromTheSettingsFile) {
    TempDir dir;
    ScopedCurrentDir cd(dir.path());
    readLanguageSetting();
    EXPECT_EQ(languageSetting(), 0);  // no file
    struct Case {
        const char* ini;
        int8_t language;
    };
    for (Case c : {Case{"[PLAY]\r\nLANGUAGE=2\r\n", 2}, Case{"[PLAY]\r\nLANGUAGE=258\r\n", 2},
                   Case{"[PLAY]\r\nLANGUAGE=-1\r\n", -1}, Case{"[OTHER]\r\nLANGUAGE=2\r\n", 0},
                   Case{"[PLAY]\r\nLANG=2\r\n", 0}}) {
        ASSERT_TRUE(writeFileBytes("Talvora.ini", c.ini));
        readLanguageSetting();
        EXPECT_EQ(languageSetting(), c.language) << c.ini;
    }
    ASSERT_TRUE(writeFileBytes("Talvora.ini", "[PLAY]\r\nLANGUAGE=2\r\n"));
    readLanguageSetting();
    char key[] = "FAIL_DOWNLOAD";
    EXPECT_STREQ(lookupMessage(key), "Falha ao baixar atualiza\xE7\xE3o.");
    ASSERT_TRUE(writeFileBytes("Talvora.ini", "[PLAY]\r\nLANGUAGE=3\r\n"));
    readLanguageSetting();
    char key2[] = "WAIT";
    EXPECT_STREQ(lookupMessage(key2), "");
    ASSERT_TRUE(writeFileBytes("Talvora.ini", ""));
    readLanguageSetting();
}
