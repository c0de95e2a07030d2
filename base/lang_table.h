#pragma once
// The compiled catalogs: made at build time by tools/mklang.cpp from po/*.po into a source of
// the build folder. Each is sorted by its msgids' bytes, for a binary search.
#include <cstddef>

struct lang_entry {
    const char *msgid;  // the game's text as it prints it: Shift-JIS bytes
    const char *msgstr; // the translation, Shift-JIS bytes too (English is plain ASCII)
};

struct lang_catalog {
    const char *code; // as the po file is named: "en" for po/en.po
    const lang_entry *entries;
    size_t count;
};

extern const lang_catalog lang_catalogs[];
extern const size_t lang_catalog_count;
