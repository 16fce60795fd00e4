// Dead-key compositions. After a dead key with dead character d, the next
// character c is looked up here, from the first row, by DEADTRANS(c, d); the
// first match gives the composed character in place of both keys.
//
// The groups stand in the order of the dead keys (kDeadChars), each group's
// rows together; within a group the order is kept as it is, since the first
// match decides. Every group has a space row that gives the dead character
// itself, so each dead key followed by Space types its own character.
#include "checks.h"

constexpr DEADKEY aDeadKey[] = {
//   base     dead       composed
    // = equals sign (Shift+2), 11 rows
    {DEADTRANS(L'a',   0x003D), 0xF105, 0},          // = a → U+F105
    {DEADTRANS(L'u',   0x003D), 0xF115, 0},          // = u → U+F115
    {DEADTRANS(L'i',   0x003D), 0xF10D, 0},          // = i → U+F10D
    {DEADTRANS(L'A',   0x003D), 0xF104, 0},          // = A → U+F104
    {DEADTRANS(L'U',   0x003D), 0xF114, 0},          // = U → U+F114
    {DEADTRANS(L'I',   0x003D), 0xF10C, 0},          // = I → U+F10C
    {DEADTRANS(L' ',   0x003D), 0x003D, 0},          // = space → =
    {DEADTRANS(L'o',   0x003D), 0xE617, 0},          // = o → U+E617
    {DEADTRANS(L'O',   0x003D), 0xEA5B, 0},          // = O → U+EA5B
    {DEADTRANS(L'e',   0x003D), 0xE4B3, 0},          // = e → U+E4B3
    {DEADTRANS(L'E',   0x003D), 0xEA27, 0},          // = E → U+EA27

    // ¯ macron (Shift+4), 21 rows
    {DEADTRANS(L'a',   0x00AF), 0x0101, 0},          // ¯ a → ā
    {DEADTRANS(L'u',   0x00AF), 0x016B, 0},          // ¯ u → ū
    {DEADTRANS(L'i',   0x00AF), 0x012B, 0},          // ¯ i → ī
    {DEADTRANS(L'A',   0x00AF), 0x0100, 0},          // ¯ A → Ā
    {DEADTRANS(L'U',   0x00AF), 0x016A, 0},          // ¯ U → Ū
    {DEADTRANS(L'I',   0x00AF), 0x012A, 0},          // ¯ I → Ī
    {DEADTRANS(L'o',   0x00AF), 0x014D, 0},          // ¯ o → ō
    {DEADTRANS(L'O',   0x00AF), 0x014C, 0},          // ¯ O → Ō
    {DEADTRANS(L'e',   0x00AF), 0x0113, 0},          // ¯ e → ē
    {DEADTRANS(L'E',   0x00AF), 0x0112, 0},          // ¯ E → Ē
    {DEADTRANS(L'h',   0x00AF), 0xF14D, 0},          // ¯ h → U+F14D
    {DEADTRANS(L'H',   0x00AF), 0xF14C, 0},          // ¯ H → U+F14C
    {DEADTRANS(L'r',   0x00AF), 0xF178, 0},          // ¯ r → U+F178
    {DEADTRANS(L'R',   0x00AF), 0xF179, 0},          // ¯ R → U+F179
    {DEADTRANS(L' ',   0x00AF), 0x00AF, 0},          // ¯ space → ¯
    {DEADTRANS(L'T',   0x00AF), 0xF194, 0},          // ¯ T → U+F194
    {DEADTRANS(L't',   0x00AF), 0xF187, 0},          // ¯ t → U+F187
    {DEADTRANS(L'd',   0x00AF), 0xF188, 0},          // ¯ d → U+F188
    {DEADTRANS(L'n',   0x00AF), 0xF189, 0},          // ¯ n → U+F189
    {DEADTRANS(L'N',   0x00AF), 0xF191, 0},          // ¯ N → U+F191
    {DEADTRANS(L'D',   0x00AF), 0xF192, 0},          // ¯ D → U+F192

    // ° degree sign (Shift+5), 13 rows
    {DEADTRANS(L'h',   0x00B0), 0xE11B, 0},          // ° h → U+E11B
    {DEADTRANS(L'r',   0x00B0), 0xF121, 0},          // ° r → U+F121
    {DEADTRANS(L'H',   0x00B0), 0xE11A, 0},          // ° H → U+E11A
    {DEADTRANS(L'R',   0x00B0), 0xF120, 0},          // ° R → U+F120
    {DEADTRANS(L's',   0x00B0), 0xF14F, 0},          // ° s → U+F14F
    {DEADTRANS(L'S',   0x00B0), 0xF14E, 0},          // ° S → U+F14E
    {DEADTRANS(L'z',   0x00B0), 0x017C, 0},          // ° z → ż
    {DEADTRANS(L'Z',   0x00B0), 0x017B, 0},          // ° Z → Ż
    {DEADTRANS(L'm',   0x00B0), 0xF141, 0},          // ° m → U+F141
    {DEADTRANS(L'M',   0x00B0), 0xF140, 0},          // ° M → U+F140
    {DEADTRANS(L't',   0x00B0), 0xF151, 0},          // ° t → U+F151
    {DEADTRANS(L'T',   0x00B0), 0xF150, 0},          // ° T → U+F150
    {DEADTRANS(L' ',   0x00B0), 0x00B0, 0},          // ° space → °

    // ^ circumflex accent (Shift+6), 19 rows
    {DEADTRANS(L'e',   0x005E), 0x00EA, 0},          // ^ e → ê
    {DEADTRANS(L'o',   0x005E), 0x00F4, 0},          // ^ o → ô
    {DEADTRANS(L'E',   0x005E), 0x00CA, 0},          // ^ E → Ê
    {DEADTRANS(L'O',   0x005E), 0x00D4, 0},          // ^ O → Ô
    {DEADTRANS(L'd',   0x005E), 0x1E13, 0},          // ^ d → ḓ
    {DEADTRANS(L'D',   0x005E), 0x1E12, 0},          // ^ D → Ḓ
    {DEADTRANS(L' ',   0x005E), 0x005E, 0},          // ^ space → ^
    {DEADTRANS(L'c',   0x005E), 0x010D, 0},          // ^ c → č
    {DEADTRANS(L'C',   0x005E), 0x010C, 0},          // ^ C → Č
    {DEADTRANS(L'i',   0x005E), 0x01D0, 0},          // ^ i → ǐ
    {DEADTRANS(L'I',   0x005E), 0x01CF, 0},          // ^ I → Ǐ
    {DEADTRANS(L'S',   0x005E), 0x0160, 0},          // ^ S → Š
    {DEADTRANS(L's',   0x005E), 0x0161, 0},          // ^ s → š
    {DEADTRANS(L'u',   0x005E), 0x01D4, 0},          // ^ u → ǔ
    {DEADTRANS(L'U',   0x005E), 0x01D3, 0},          // ^ U → Ǔ
    {DEADTRANS(L'y',   0x005E), 0xF180, 0},          // ^ y → U+F180
    {DEADTRANS(L'Y',   0x005E), 0xF181, 0},          // ^ Y → U+F181
    {DEADTRANS(L'Z',   0x005E), 0x017D, 0},          // ^ Z → Ž
    {DEADTRANS(L'z',   0x005E), 0x017E, 0},          // ^ z → ž

    // * asterisk (Shift+8), 18 rows
    {DEADTRANS(L'n',   0x002A), 0x1E45, 0},          // * n → ṅ
    {DEADTRANS(L'z',   0x002A), 0x017C, 0},          // * z → ż
    {DEADTRANS(L'm',   0x002A), 0x1E41, 0},          // * m → ṁ
    {DEADTRANS(L'a',   0x002A), 0xF101, 0},          // * a → U+F101
    {DEADTRANS(L'g',   0x002A), 0x0121, 0},          // * g → ġ
    {DEADTRANS(L's',   0x002A), 0x0161, 0},          // * s → š
    {DEADTRANS(L'y',   0x002A), 0x1E8F, 0},          // * y → ẏ
    {DEADTRANS(L'N',   0x002A), 0x1E44, 0},          // * N → Ṅ
    {DEADTRANS(L'Z',   0x002A), 0x017B, 0},          // * Z → Ż
    {DEADTRANS(L'M',   0x002A), 0x1E40, 0},          // * M → Ṁ
    {DEADTRANS(L'A',   0x002A), 0xF100, 0},          // * A → U+F100
    {DEADTRANS(L'G',   0x002A), 0x0120, 0},          // * G → Ġ
    {DEADTRANS(L'S',   0x002A), 0x0160, 0},          // * S → Š
    {DEADTRANS(L'Y',   0x002A), 0x1E8E, 0},          // * Y → Ẏ
    {DEADTRANS(L'r',   0x002A), 0xF157, 0},          // * r → U+F157
    {DEADTRANS(L'R',   0x002A), 0xF156, 0},          // * R → U+F156
    {DEADTRANS(L' ',   0x002A), 0x002A, 0},          // * space → *
    {DEADTRANS(L'I',   0x002A), 0x0130, 0},          // * I → İ

    // _ low line (Shift+minus), 21 rows
    {DEADTRANS(L'n',   0x005F), 0x1E49, 0},          // _ n → ṉ
    {DEADTRANS(L'z',   0x005F), 0x1E95, 0},          // _ z → ẕ
    {DEADTRANS(L'g',   0x005F), 0xE107, 0},          // _ g → U+E107
    {DEADTRANS(L's',   0x005F), 0xF14A, 0},          // _ s → U+F14A
    {DEADTRANS(L'l',   0x005F), 0x1E3B, 0},          // _ l → ḻ
    {DEADTRANS(L'k',   0x005F), 0xF148, 0},          // _ k → U+F148
    {DEADTRANS(L'r',   0x005F), 0x1E5F, 0},          // _ r → ṟ
    {DEADTRANS(L't',   0x005F), 0x1E6F, 0},          // _ t → ṯ
    {DEADTRANS(L'N',   0x005F), 0x1E48, 0},          // _ N → Ṉ
    {DEADTRANS(L'Z',   0x005F), 0x1E94, 0},          // _ Z → Ẕ
    {DEADTRANS(L'G',   0x005F), 0xE106, 0},          // _ G → U+E106
    {DEADTRANS(L'S',   0x005F), 0xF149, 0},          // _ S → U+F149
    {DEADTRANS(L'L',   0x005F), 0x1E3A, 0},          // _ L → Ḻ
    {DEADTRANS(L'K',   0x005F), 0xF146, 0},          // _ K → U+F146
    {DEADTRANS(L'R',   0x005F), 0x1E5E, 0},          // _ R → Ṟ
    {DEADTRANS(L'T',   0x005F), 0x1E6E, 0},          // _ T → Ṯ
    {DEADTRANS(L'd',   0x005F), 0x1E0F, 0},          // _ d → ḏ
    {DEADTRANS(L'h',   0x005F), 0x1E96, 0},          // _ h → ẖ
    {DEADTRANS(L'H',   0x005F), 0xF14B, 0},          // _ H → U+F14B
    {DEADTRANS(L'D',   0x005F), 0x1E0E, 0},          // _ D → Ḏ
    {DEADTRANS(L' ',   0x005F), 0x005F, 0},          // _ space → _

    // h latin small letter h (H), 24 rows
    {DEADTRANS(L'f',   0x0068), 0xF18A, 0},          // h f → U+F18A
    {DEADTRANS(L'g',   0x0068), 0xF18B, 0},          // h g → U+F18B
    {DEADTRANS(L'b',   0x0068), 0xF18C, 0},          // h b → U+F18C
    {DEADTRANS(L'd',   0x0068), 0xF18D, 0},          // h d → U+F18D
    {DEADTRANS(L'p',   0x0068), 0xF18E, 0},          // h p → U+F18E
    {DEADTRANS(L't',   0x0068), 0xF18F, 0},          // h t → U+F18F
    {DEADTRANS(L'k',   0x0068), 0xF190, 0},          // h k → U+F190
    {DEADTRANS(L'l',   0x0068), 0xF199, 0},          // h l → U+F199
    {DEADTRANS(L's',   0x0068), 0xF193, 0},          // h s → U+F193
    {DEADTRANS(L'T',   0x0068), 0xF195, 0},          // h T → U+F195
    {DEADTRANS(L'D',   0x0068), 0xF196, 0},          // h D → U+F196
    {DEADTRANS(L'n',   0x0068), 0xF197, 0},          // h n → U+F197
    {DEADTRANS(L'J',   0x0068), 0xF198, 0},          // h J → U+F198
    {DEADTRANS(L'v',   0x0068), 0xF19A, 0},          // h v → U+F19A
    {DEADTRANS(L'r',   0x0068), 0xF19B, 0},          // h r → U+F19B
    {DEADTRANS(L'C',   0x0068), 0xF19C, 0},          // h C → U+F19C
    {DEADTRANS(L'c',   0x0068), 0xF19F, 0},          // h c → U+F19F
    {DEADTRANS(L'z',   0x0068), 0xF200, 0},          // h z → U+F200
    {DEADTRANS(L'j',   0x0068), 0xF201, 0},          // h j → U+F201
    {DEADTRANS(L'B',   0x0068), 0xF202, 0},          // h B → U+F202
    {DEADTRANS(L'm',   0x0068), 0xF203, 0},          // h m → U+F203
    {DEADTRANS(L'G',   0x0068), 0xF204, 0},          // h G → U+F204
    {DEADTRANS(L'I',   0x0068), 0xF205, 0},          // h I → U+F205
    {DEADTRANS(L' ',   0x0068), 0x0068, 0},          // h space → h

    // ´ acute accent (the key left of 1), 17 rows
    {DEADTRANS(L'a',   0x00B4), 0x0103, 0},          // ´ a → ă
    {DEADTRANS(L's',   0x00B4), 0x015B, 0},          // ´ s → ś
    {DEADTRANS(L'e',   0x00B4), 0x0115, 0},          // ´ e → ĕ
    {DEADTRANS(L'o',   0x00B4), 0x014F, 0},          // ´ o → ŏ
    {DEADTRANS(L'A',   0x00B4), 0x0102, 0},          // ´ A → Ă
    {DEADTRANS(L'S',   0x00B4), 0x015A, 0},          // ´ S → Ś
    {DEADTRANS(L'E',   0x00B4), 0x0114, 0},          // ´ E → Ĕ
    {DEADTRANS(L'O',   0x00B4), 0x014E, 0},          // ´ O → Ŏ
    {DEADTRANS(L' ',   0x00B4), 0x00B4, 0},          // ´ space → ´
    {DEADTRANS(0x0259, 0x00B4), 0xF182, 0},          // ´ ə → U+F182
    {DEADTRANS(0x018F, 0x00B4), 0xF185, 0},          // ´ Ə → U+F185
    {DEADTRANS(0x0254, 0x00B4), 0xF19D, 0},          // ´ ɔ → U+F19D
    {DEADTRANS(0x0186, 0x00B4), 0xF19E, 0},          // ´ Ɔ → U+F19E
    {DEADTRANS(0x026F, 0x00B4), 0xF184, 0},          // ´ ɯ → U+F184
    {DEADTRANS(0x019C, 0x00B4), 0xF186, 0},          // ´ Ɯ → U+F186
    {DEADTRANS(L'r',   0x00B4), 0xF157, 0},          // ´ r → U+F157
    {DEADTRANS(L'R',   0x00B4), 0xF156, 0},          // ´ R → U+F156

    // ~ tilde (Shift and the key left of 1), 19 rows
    {DEADTRANS(0xF175, 0x007E), 0xF161, 0},          // ~ U+F175 → U+F161
    {DEADTRANS(0xF173, 0x007E), 0xF163, 0},          // ~ U+F173 → U+F163
    {DEADTRANS(L'n',   0x007E), 0x00F1, 0},          // ~ n → ñ
    {DEADTRANS(L'a',   0x007E), 0x00E3, 0},          // ~ a → ã
    {DEADTRANS(L'e',   0x007E), 0x1EBD, 0},          // ~ e → ẽ
    {DEADTRANS(L'u',   0x007E), 0x0169, 0},          // ~ u → ũ
    {DEADTRANS(L'i',   0x007E), 0x0129, 0},          // ~ i → ĩ
    {DEADTRANS(L'o',   0x007E), 0x00F5, 0},          // ~ o → õ
    {DEADTRANS(0xF176, 0x007E), 0xF160, 0},          // ~ U+F176 → U+F160
    {DEADTRANS(0xF174, 0x007E), 0xF162, 0},          // ~ U+F174 → U+F162
    {DEADTRANS(L'N',   0x007E), 0x00D1, 0},          // ~ N → Ñ
    {DEADTRANS(L'A',   0x007E), 0x00C3, 0},          // ~ A → Ã
    {DEADTRANS(L'E',   0x007E), 0x1EBC, 0},          // ~ E → Ẽ
    {DEADTRANS(L'U',   0x007E), 0x0168, 0},          // ~ U → Ũ
    {DEADTRANS(L'I',   0x007E), 0x0128, 0},          // ~ I → Ĩ
    {DEADTRANS(L'O',   0x007E), 0x00D5, 0},          // ~ O → Õ
    {DEADTRANS(L' ',   0x007E), 0x007E, 0},          // ~ space → ~
    {DEADTRANS(0x00E6, 0x007E), 0xE039, 0},          // ~ æ → U+E039
    {DEADTRANS(0x00C6, 0x007E), 0xE038, 0},          // ~ Æ → U+E038

    // , comma (comma), 19 rows
    {DEADTRANS(L'd',   0x002C), 0x0256, 0},          // , d → ɖ
    {DEADTRANS(L'm',   0x002C), 0x0271, 0},          // , m → ɱ
    {DEADTRANS(L'c',   0x002C), 0x0255, 0},          // , c → ɕ
    {DEADTRANS(L'j',   0x002C), 0x029D, 0},          // , j → ʝ
    {DEADTRANS(L'v',   0x002C), 0x028B, 0},          // , v → ʋ
    {DEADTRANS(L'h',   0x002C), 0x0266, 0},          // , h → ɦ
    {DEADTRANS(L'l',   0x002C), 0x026D, 0},          // , l → ɭ
    {DEADTRANS(L'z',   0x002C), 0x02A4, 0},          // , z → ʤ
    {DEADTRANS(L'T',   0x002C), 0x02A6, 0},          // , T → ʦ
    {DEADTRANS(L'Z',   0x002C), 0x02A7, 0},          // , Z → ʧ
    {DEADTRANS(L'r',   0x002C), 0x027E, 0},          // , r → ɾ
    {DEADTRANS(L'N',   0x002C), 0x014B, 0},          // , N → ŋ
    {DEADTRANS(L'n',   0x002C), 0x0273, 0},          // , n → ɳ
    {DEADTRANS(L'R',   0x002C), 0x027D, 0},          // , R → ɽ
    {DEADTRANS(L'S',   0x002C), 0x0283, 0},          // , S → ʃ
    {DEADTRANS(L's',   0x002C), 0x0282, 0},          // , s → ʂ
    {DEADTRANS(L't',   0x002C), 0x0288, 0},          // , t → ʈ
    {DEADTRANS(L' ',   0x002C), 0x002C, 0},          // , space → ,
    {DEADTRANS(L'J',   0x002C), 0x0249, 0},          // , J → ɉ

    // . full stop (full stop), 19 rows
    {DEADTRANS(L'n',   0x002E), 0x1E47, 0},          // . n → ṇ
    {DEADTRANS(L'z',   0x002E), 0x1E93, 0},          // . z → ẓ
    {DEADTRANS(L'h',   0x002E), 0x1E25, 0},          // . h → ḥ
    {DEADTRANS(L'd',   0x002E), 0x1E0D, 0},          // . d → ḍ
    {DEADTRANS(L's',   0x002E), 0x1E63, 0},          // . s → ṣ
    {DEADTRANS(L'l',   0x002E), 0x1E37, 0},          // . l → ḷ
    {DEADTRANS(L'r',   0x002E), 0x1E5B, 0},          // . r → ṛ
    {DEADTRANS(L't',   0x002E), 0x1E6D, 0},          // . t → ṭ
    {DEADTRANS(L'N',   0x002E), 0x1E46, 0},          // . N → Ṇ
    {DEADTRANS(L'Z',   0x002E), 0x1E92, 0},          // . Z → Ẓ
    {DEADTRANS(L'H',   0x002E), 0x1E24, 0},          // . H → Ḥ
    {DEADTRANS(L'D',   0x002E), 0x1E0C, 0},          // . D → Ḍ
    {DEADTRANS(L'S',   0x002E), 0x1E62, 0},          // . S → Ṣ
    {DEADTRANS(L'L',   0x002E), 0x1E36, 0},          // . L → Ḷ
    {DEADTRANS(L'R',   0x002E), 0x1E5A, 0},          // . R → Ṛ
    {DEADTRANS(L'T',   0x002E), 0x1E6C, 0},          // . T → Ṭ
    {DEADTRANS(L' ',   0x002E), 0x002E, 0},          // . space → .
    {DEADTRANS(L'm',   0x002E), 0x1E43, 0},          // . m → ṃ
    {DEADTRANS(L'M',   0x002E), 0x1E42, 0},          // . M → Ṃ

    {0, 0, 0},
};

namespace {

constexpr unsigned kRows = check::count(aDeadKey) - 1;
static_assert(kRows == 201);

constexpr WCHAR deadOf(const DEADKEY& d) { return static_cast<WCHAR>(d.dwBoth >> 16); }
constexpr WCHAR baseOf(const DEADKEY& d) { return static_cast<WCHAR>(d.dwBoth & 0xFFFF); }

// The groups follow kDeadChars, one contiguous group per dead character.
constexpr bool groupsInOrder() {
    unsigned group = 0;
    for (unsigned i = 0; i < kRows; ++i) {
        if (i > 0 && deadOf(aDeadKey[i]) != deadOf(aDeadKey[i - 1])) ++group;
        if (group >= kDeadCharCount || deadOf(aDeadKey[i]) != kDeadChars[group]) return false;
    }
    return group + 1 == kDeadCharCount;
}
static_assert(groupsInOrder(), "one group per dead character, in kDeadChars order");

// Each group has exactly one space row, and it gives the dead character.
constexpr bool spaceRowsGiveTheDeadCharacter() {
    for (WCHAR dead : kDeadChars) {
        unsigned spaces = 0;
        for (unsigned i = 0; i < kRows; ++i)
            if (deadOf(aDeadKey[i]) == dead && baseOf(aDeadKey[i]) == L' ') {
                ++spaces;
                if (aDeadKey[i].wchComposed != dead) return false;
            }
        if (spaces != 1) return false;
    }
    return true;
}
static_assert(spaceRowsGiveTheDeadCharacter());

// No result is a marker, no composition yields another dead key, and the
// list ends with its terminator.
constexpr bool resultsAreCharacters() {
    for (unsigned i = 0; i < kRows; ++i) {
        const WCHAR c = aDeadKey[i].wchComposed;
        if (c == WCH_NONE || c == WCH_DEAD || c == WCH_LGTR || c == 0) return false;
        if (aDeadKey[i].uFlags != 0 || aDeadKey[i].dwBoth == 0) return false;
    }
    const DEADKEY& t = aDeadKey[kRows];
    return t.dwBoth == 0 && t.wchComposed == 0 && t.uFlags == 0;
}
static_assert(resultsAreCharacters());

}  // namespace
