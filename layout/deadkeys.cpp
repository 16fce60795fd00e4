// Dead-key compositions. After a dead key, the next character typed is
// looked up here with the dead character: the platform searches from the first
// row for base (low word) and dead character (high word) and produces the
// first match's result in place of both keys. One group per dead key, in the
// order of the keys; each group's space row gives the dead character itself.
// "PUA" in a comment marks a Private Use Area code point, emitted as is.
#include "checks.h"

constexpr DEADKEY aDeadKey[] = {
    // = equals sign (Shift+2): 11 compositions
    { DEADTRANS(0x0061, 0x003D), 0xF105, 0x0000 },  // a     = → PUA
    { DEADTRANS(0x0075, 0x003D), 0xF115, 0x0000 },  // u     = → PUA
    { DEADTRANS(0x0069, 0x003D), 0xF10D, 0x0000 },  // i     = → PUA
    { DEADTRANS(0x0041, 0x003D), 0xF104, 0x0000 },  // A     = → PUA
    { DEADTRANS(0x0055, 0x003D), 0xF114, 0x0000 },  // U     = → PUA
    { DEADTRANS(0x0049, 0x003D), 0xF10C, 0x0000 },  // I     = → PUA
    { DEADTRANS(0x0020, 0x003D), 0x003D, 0x0000 },  // space = → =
    { DEADTRANS(0x006F, 0x003D), 0xE617, 0x0000 },  // o     = → PUA
    { DEADTRANS(0x004F, 0x003D), 0xEA5B, 0x0000 },  // O     = → PUA
    { DEADTRANS(0x0065, 0x003D), 0xE4B3, 0x0000 },  // e     = → PUA
    { DEADTRANS(0x0045, 0x003D), 0xEA27, 0x0000 },  // E     = → PUA

    // ¯ macron (Shift+4): 21 compositions
    { DEADTRANS(0x0061, 0x00AF), 0x0101, 0x0000 },  // a     ¯ → ā
    { DEADTRANS(0x0075, 0x00AF), 0x016B, 0x0000 },  // u     ¯ → ū
    { DEADTRANS(0x0069, 0x00AF), 0x012B, 0x0000 },  // i     ¯ → ī
    { DEADTRANS(0x0041, 0x00AF), 0x0100, 0x0000 },  // A     ¯ → Ā
    { DEADTRANS(0x0055, 0x00AF), 0x016A, 0x0000 },  // U     ¯ → Ū
    { DEADTRANS(0x0049, 0x00AF), 0x012A, 0x0000 },  // I     ¯ → Ī
    { DEADTRANS(0x006F, 0x00AF), 0x014D, 0x0000 },  // o     ¯ → ō
    { DEADTRANS(0x004F, 0x00AF), 0x014C, 0x0000 },  // O     ¯ → Ō
    { DEADTRANS(0x0065, 0x00AF), 0x0113, 0x0000 },  // e     ¯ → ē
    { DEADTRANS(0x0045, 0x00AF), 0x0112, 0x0000 },  // E     ¯ → Ē
    { DEADTRANS(0x0068, 0x00AF), 0xF14D, 0x0000 },  // h     ¯ → PUA
    { DEADTRANS(0x0048, 0x00AF), 0xF14C, 0x0000 },  // H     ¯ → PUA
    { DEADTRANS(0x0072, 0x00AF), 0xF178, 0x0000 },  // r     ¯ → PUA
    { DEADTRANS(0x0052, 0x00AF), 0xF179, 0x0000 },  // R     ¯ → PUA
    { DEADTRANS(0x0020, 0x00AF), 0x00AF, 0x0000 },  // space ¯ → ¯
    { DEADTRANS(0x0054, 0x00AF), 0xF194, 0x0000 },  // T     ¯ → PUA
    { DEADTRANS(0x0074, 0x00AF), 0xF187, 0x0000 },  // t     ¯ → PUA
    { DEADTRANS(0x0064, 0x00AF), 0xF188, 0x0000 },  // d     ¯ → PUA
    { DEADTRANS(0x006E, 0x00AF), 0xF189, 0x0000 },  // n     ¯ → PUA
    { DEADTRANS(0x004E, 0x00AF), 0xF191, 0x0000 },  // N     ¯ → PUA
    { DEADTRANS(0x0044, 0x00AF), 0xF192, 0x0000 },  // D     ¯ → PUA

    // ° degree sign (Shift+5): 13 compositions
    { DEADTRANS(0x0068, 0x00B0), 0xE11B, 0x0000 },  // h     ° → PUA
    { DEADTRANS(0x0072, 0x00B0), 0xF121, 0x0000 },  // r     ° → PUA
    { DEADTRANS(0x0048, 0x00B0), 0xE11A, 0x0000 },  // H     ° → PUA
    { DEADTRANS(0x0052, 0x00B0), 0xF120, 0x0000 },  // R     ° → PUA
    { DEADTRANS(0x0073, 0x00B0), 0xF14F, 0x0000 },  // s     ° → PUA
    { DEADTRANS(0x0053, 0x00B0), 0xF14E, 0x0000 },  // S     ° → PUA
    { DEADTRANS(0x007A, 0x00B0), 0x017C, 0x0000 },  // z     ° → ż
    { DEADTRANS(0x005A, 0x00B0), 0x017B, 0x0000 },  // Z     ° → Ż
    { DEADTRANS(0x006D, 0x00B0), 0xF141, 0x0000 },  // m     ° → PUA
    { DEADTRANS(0x004D, 0x00B0), 0xF140, 0x0000 },  // M     ° → PUA
    { DEADTRANS(0x0074, 0x00B0), 0xF151, 0x0000 },  // t     ° → PUA
    { DEADTRANS(0x0054, 0x00B0), 0xF150, 0x0000 },  // T     ° → PUA
    { DEADTRANS(0x0020, 0x00B0), 0x00B0, 0x0000 },  // space ° → °

    // ^ circumflex accent (Shift+6): 19 compositions
    { DEADTRANS(0x0065, 0x005E), 0x00EA, 0x0000 },  // e     ^ → ê
    { DEADTRANS(0x006F, 0x005E), 0x00F4, 0x0000 },  // o     ^ → ô
    { DEADTRANS(0x0045, 0x005E), 0x00CA, 0x0000 },  // E     ^ → Ê
    { DEADTRANS(0x004F, 0x005E), 0x00D4, 0x0000 },  // O     ^ → Ô
    { DEADTRANS(0x0064, 0x005E), 0x1E13, 0x0000 },  // d     ^ → ḓ
    { DEADTRANS(0x0044, 0x005E), 0x1E12, 0x0000 },  // D     ^ → Ḓ
    { DEADTRANS(0x0020, 0x005E), 0x005E, 0x0000 },  // space ^ → ^
    { DEADTRANS(0x0063, 0x005E), 0x010D, 0x0000 },  // c     ^ → č
    { DEADTRANS(0x0043, 0x005E), 0x010C, 0x0000 },  // C     ^ → Č
    { DEADTRANS(0x0069, 0x005E), 0x01D0, 0x0000 },  // i     ^ → ǐ
    { DEADTRANS(0x0049, 0x005E), 0x01CF, 0x0000 },  // I     ^ → Ǐ
    { DEADTRANS(0x0053, 0x005E), 0x0160, 0x0000 },  // S     ^ → Š
    { DEADTRANS(0x0073, 0x005E), 0x0161, 0x0000 },  // s     ^ → š
    { DEADTRANS(0x0075, 0x005E), 0x01D4, 0x0000 },  // u     ^ → ǔ
    { DEADTRANS(0x0055, 0x005E), 0x01D3, 0x0000 },  // U     ^ → Ǔ
    { DEADTRANS(0x0079, 0x005E), 0xF180, 0x0000 },  // y     ^ → PUA
    { DEADTRANS(0x0059, 0x005E), 0xF181, 0x0000 },  // Y     ^ → PUA
    { DEADTRANS(0x005A, 0x005E), 0x017D, 0x0000 },  // Z     ^ → Ž
    { DEADTRANS(0x007A, 0x005E), 0x017E, 0x0000 },  // z     ^ → ž

    // * asterisk (Shift+8): 18 compositions
    { DEADTRANS(0x006E, 0x002A), 0x1E45, 0x0000 },  // n     * → ṅ
    { DEADTRANS(0x007A, 0x002A), 0x017C, 0x0000 },  // z     * → ż
    { DEADTRANS(0x006D, 0x002A), 0x1E41, 0x0000 },  // m     * → ṁ
    { DEADTRANS(0x0061, 0x002A), 0xF101, 0x0000 },  // a     * → PUA
    { DEADTRANS(0x0067, 0x002A), 0x0121, 0x0000 },  // g     * → ġ
    { DEADTRANS(0x0073, 0x002A), 0x0161, 0x0000 },  // s     * → š
    { DEADTRANS(0x0079, 0x002A), 0x1E8F, 0x0000 },  // y     * → ẏ
    { DEADTRANS(0x004E, 0x002A), 0x1E44, 0x0000 },  // N     * → Ṅ
    { DEADTRANS(0x005A, 0x002A), 0x017B, 0x0000 },  // Z     * → Ż
    { DEADTRANS(0x004D, 0x002A), 0x1E40, 0x0000 },  // M     * → Ṁ
    { DEADTRANS(0x0041, 0x002A), 0xF100, 0x0000 },  // A     * → PUA
    { DEADTRANS(0x0047, 0x002A), 0x0120, 0x0000 },  // G     * → Ġ
    { DEADTRANS(0x0053, 0x002A), 0x0160, 0x0000 },  // S     * → Š
    { DEADTRANS(0x0059, 0x002A), 0x1E8E, 0x0000 },  // Y     * → Ẏ
    { DEADTRANS(0x0072, 0x002A), 0xF157, 0x0000 },  // r     * → PUA
    { DEADTRANS(0x0052, 0x002A), 0xF156, 0x0000 },  // R     * → PUA
    { DEADTRANS(0x0020, 0x002A), 0x002A, 0x0000 },  // space * → *
    { DEADTRANS(0x0049, 0x002A), 0x0130, 0x0000 },  // I     * → İ

    // _ low line (Shift+minus): 21 compositions
    { DEADTRANS(0x006E, 0x005F), 0x1E49, 0x0000 },  // n     _ → ṉ
    { DEADTRANS(0x007A, 0x005F), 0x1E95, 0x0000 },  // z     _ → ẕ
    { DEADTRANS(0x0067, 0x005F), 0xE107, 0x0000 },  // g     _ → PUA
    { DEADTRANS(0x0073, 0x005F), 0xF14A, 0x0000 },  // s     _ → PUA
    { DEADTRANS(0x006C, 0x005F), 0x1E3B, 0x0000 },  // l     _ → ḻ
    { DEADTRANS(0x006B, 0x005F), 0xF148, 0x0000 },  // k     _ → PUA
    { DEADTRANS(0x0072, 0x005F), 0x1E5F, 0x0000 },  // r     _ → ṟ
    { DEADTRANS(0x0074, 0x005F), 0x1E6F, 0x0000 },  // t     _ → ṯ
    { DEADTRANS(0x004E, 0x005F), 0x1E48, 0x0000 },  // N     _ → Ṉ
    { DEADTRANS(0x005A, 0x005F), 0x1E94, 0x0000 },  // Z     _ → Ẕ
    { DEADTRANS(0x0047, 0x005F), 0xE106, 0x0000 },  // G     _ → PUA
    { DEADTRANS(0x0053, 0x005F), 0xF149, 0x0000 },  // S     _ → PUA
    { DEADTRANS(0x004C, 0x005F), 0x1E3A, 0x0000 },  // L     _ → Ḻ
    { DEADTRANS(0x004B, 0x005F), 0xF146, 0x0000 },  // K     _ → PUA
    { DEADTRANS(0x0052, 0x005F), 0x1E5E, 0x0000 },  // R     _ → Ṟ
    { DEADTRANS(0x0054, 0x005F), 0x1E6E, 0x0000 },  // T     _ → Ṯ
    { DEADTRANS(0x0064, 0x005F), 0x1E0F, 0x0000 },  // d     _ → ḏ
    { DEADTRANS(0x0068, 0x005F), 0x1E96, 0x0000 },  // h     _ → ẖ
    { DEADTRANS(0x0048, 0x005F), 0xF14B, 0x0000 },  // H     _ → PUA
    { DEADTRANS(0x0044, 0x005F), 0x1E0E, 0x0000 },  // D     _ → Ḏ
    { DEADTRANS(0x0020, 0x005F), 0x005F, 0x0000 },  // space _ → _

    // h letter h (H): 24 compositions
    { DEADTRANS(0x0066, 0x0068), 0xF18A, 0x0000 },  // f     h → PUA
    { DEADTRANS(0x0067, 0x0068), 0xF18B, 0x0000 },  // g     h → PUA
    { DEADTRANS(0x0062, 0x0068), 0xF18C, 0x0000 },  // b     h → PUA
    { DEADTRANS(0x0064, 0x0068), 0xF18D, 0x0000 },  // d     h → PUA
    { DEADTRANS(0x0070, 0x0068), 0xF18E, 0x0000 },  // p     h → PUA
    { DEADTRANS(0x0074, 0x0068), 0xF18F, 0x0000 },  // t     h → PUA
    { DEADTRANS(0x006B, 0x0068), 0xF190, 0x0000 },  // k     h → PUA
    { DEADTRANS(0x006C, 0x0068), 0xF199, 0x0000 },  // l     h → PUA
    { DEADTRANS(0x0073, 0x0068), 0xF193, 0x0000 },  // s     h → PUA
    { DEADTRANS(0x0054, 0x0068), 0xF195, 0x0000 },  // T     h → PUA
    { DEADTRANS(0x0044, 0x0068), 0xF196, 0x0000 },  // D     h → PUA
    { DEADTRANS(0x006E, 0x0068), 0xF197, 0x0000 },  // n     h → PUA
    { DEADTRANS(0x004A, 0x0068), 0xF198, 0x0000 },  // J     h → PUA
    { DEADTRANS(0x0076, 0x0068), 0xF19A, 0x0000 },  // v     h → PUA
    { DEADTRANS(0x0072, 0x0068), 0xF19B, 0x0000 },  // r     h → PUA
    { DEADTRANS(0x0043, 0x0068), 0xF19C, 0x0000 },  // C     h → PUA
    { DEADTRANS(0x0063, 0x0068), 0xF19F, 0x0000 },  // c     h → PUA
    { DEADTRANS(0x007A, 0x0068), 0xF200, 0x0000 },  // z     h → PUA
    { DEADTRANS(0x006A, 0x0068), 0xF201, 0x0000 },  // j     h → PUA
    { DEADTRANS(0x0042, 0x0068), 0xF202, 0x0000 },  // B     h → PUA
    { DEADTRANS(0x006D, 0x0068), 0xF203, 0x0000 },  // m     h → PUA
    { DEADTRANS(0x0047, 0x0068), 0xF204, 0x0000 },  // G     h → PUA
    { DEADTRANS(0x0049, 0x0068), 0xF205, 0x0000 },  // I     h → PUA
    { DEADTRANS(0x0020, 0x0068), 0x0068, 0x0000 },  // space h → h

    // ´ acute accent (the key left of 1): 17 compositions
    { DEADTRANS(0x0061, 0x00B4), 0x0103, 0x0000 },  // a     ´ → ă
    { DEADTRANS(0x0073, 0x00B4), 0x015B, 0x0000 },  // s     ´ → ś
    { DEADTRANS(0x0065, 0x00B4), 0x0115, 0x0000 },  // e     ´ → ĕ
    { DEADTRANS(0x006F, 0x00B4), 0x014F, 0x0000 },  // o     ´ → ŏ
    { DEADTRANS(0x0041, 0x00B4), 0x0102, 0x0000 },  // A     ´ → Ă
    { DEADTRANS(0x0053, 0x00B4), 0x015A, 0x0000 },  // S     ´ → Ś
    { DEADTRANS(0x0045, 0x00B4), 0x0114, 0x0000 },  // E     ´ → Ĕ
    { DEADTRANS(0x004F, 0x00B4), 0x014E, 0x0000 },  // O     ´ → Ŏ
    { DEADTRANS(0x0020, 0x00B4), 0x00B4, 0x0000 },  // space ´ → ´
    { DEADTRANS(0x0259, 0x00B4), 0xF182, 0x0000 },  // ə     ´ → PUA
    { DEADTRANS(0x018F, 0x00B4), 0xF185, 0x0000 },  // Ə     ´ → PUA
    { DEADTRANS(0x0254, 0x00B4), 0xF19D, 0x0000 },  // ɔ     ´ → PUA
    { DEADTRANS(0x0186, 0x00B4), 0xF19E, 0x0000 },  // Ɔ     ´ → PUA
    { DEADTRANS(0x026F, 0x00B4), 0xF184, 0x0000 },  // ɯ     ´ → PUA
    { DEADTRANS(0x019C, 0x00B4), 0xF186, 0x0000 },  // Ɯ     ´ → PUA
    { DEADTRANS(0x0072, 0x00B4), 0xF157, 0x0000 },  // r     ´ → PUA
    { DEADTRANS(0x0052, 0x00B4), 0xF156, 0x0000 },  // R     ´ → PUA

    // ~ tilde (Shift and the key left of 1): 19 compositions
    { DEADTRANS(0xF175, 0x007E), 0xF161, 0x0000 },  // PUA   ~ → PUA
    { DEADTRANS(0xF173, 0x007E), 0xF163, 0x0000 },  // PUA   ~ → PUA
    { DEADTRANS(0x006E, 0x007E), 0x00F1, 0x0000 },  // n     ~ → ñ
    { DEADTRANS(0x0061, 0x007E), 0x00E3, 0x0000 },  // a     ~ → ã
    { DEADTRANS(0x0065, 0x007E), 0x1EBD, 0x0000 },  // e     ~ → ẽ
    { DEADTRANS(0x0075, 0x007E), 0x0169, 0x0000 },  // u     ~ → ũ
    { DEADTRANS(0x0069, 0x007E), 0x0129, 0x0000 },  // i     ~ → ĩ
    { DEADTRANS(0x006F, 0x007E), 0x00F5, 0x0000 },  // o     ~ → õ
    { DEADTRANS(0xF176, 0x007E), 0xF160, 0x0000 },  // PUA   ~ → PUA
    { DEADTRANS(0xF174, 0x007E), 0xF162, 0x0000 },  // PUA   ~ → PUA
    { DEADTRANS(0x004E, 0x007E), 0x00D1, 0x0000 },  // N     ~ → Ñ
    { DEADTRANS(0x0041, 0x007E), 0x00C3, 0x0000 },  // A     ~ → Ã
    { DEADTRANS(0x0045, 0x007E), 0x1EBC, 0x0000 },  // E     ~ → Ẽ
    { DEADTRANS(0x0055, 0x007E), 0x0168, 0x0000 },  // U     ~ → Ũ
    { DEADTRANS(0x0049, 0x007E), 0x0128, 0x0000 },  // I     ~ → Ĩ
    { DEADTRANS(0x004F, 0x007E), 0x00D5, 0x0000 },  // O     ~ → Õ
    { DEADTRANS(0x0020, 0x007E), 0x007E, 0x0000 },  // space ~ → ~
    { DEADTRANS(0x00E6, 0x007E), 0xE039, 0x0000 },  // æ     ~ → PUA
    { DEADTRANS(0x00C6, 0x007E), 0xE038, 0x0000 },  // Æ     ~ → PUA

    // , comma (comma key): 19 compositions
    { DEADTRANS(0x0064, 0x002C), 0x0256, 0x0000 },  // d     , → ɖ
    { DEADTRANS(0x006D, 0x002C), 0x0271, 0x0000 },  // m     , → ɱ
    { DEADTRANS(0x0063, 0x002C), 0x0255, 0x0000 },  // c     , → ɕ
    { DEADTRANS(0x006A, 0x002C), 0x029D, 0x0000 },  // j     , → ʝ
    { DEADTRANS(0x0076, 0x002C), 0x028B, 0x0000 },  // v     , → ʋ
    { DEADTRANS(0x0068, 0x002C), 0x0266, 0x0000 },  // h     , → ɦ
    { DEADTRANS(0x006C, 0x002C), 0x026D, 0x0000 },  // l     , → ɭ
    { DEADTRANS(0x007A, 0x002C), 0x02A4, 0x0000 },  // z     , → ʤ
    { DEADTRANS(0x0054, 0x002C), 0x02A6, 0x0000 },  // T     , → ʦ
    { DEADTRANS(0x005A, 0x002C), 0x02A7, 0x0000 },  // Z     , → ʧ
    { DEADTRANS(0x0072, 0x002C), 0x027E, 0x0000 },  // r     , → ɾ
    { DEADTRANS(0x004E, 0x002C), 0x014B, 0x0000 },  // N     , → ŋ
    { DEADTRANS(0x006E, 0x002C), 0x0273, 0x0000 },  // n     , → ɳ
    { DEADTRANS(0x0052, 0x002C), 0x027D, 0x0000 },  // R     , → ɽ
    { DEADTRANS(0x0053, 0x002C), 0x0283, 0x0000 },  // S     , → ʃ
    { DEADTRANS(0x0073, 0x002C), 0x0282, 0x0000 },  // s     , → ʂ
    { DEADTRANS(0x0074, 0x002C), 0x0288, 0x0000 },  // t     , → ʈ
    { DEADTRANS(0x0020, 0x002C), 0x002C, 0x0000 },  // space , → ,
    { DEADTRANS(0x004A, 0x002C), 0x0249, 0x0000 },  // J     , → ɉ

    // . full stop (full-stop key): 19 compositions
    { DEADTRANS(0x006E, 0x002E), 0x1E47, 0x0000 },  // n     . → ṇ
    { DEADTRANS(0x007A, 0x002E), 0x1E93, 0x0000 },  // z     . → ẓ
    { DEADTRANS(0x0068, 0x002E), 0x1E25, 0x0000 },  // h     . → ḥ
    { DEADTRANS(0x0064, 0x002E), 0x1E0D, 0x0000 },  // d     . → ḍ
    { DEADTRANS(0x0073, 0x002E), 0x1E63, 0x0000 },  // s     . → ṣ
    { DEADTRANS(0x006C, 0x002E), 0x1E37, 0x0000 },  // l     . → ḷ
    { DEADTRANS(0x0072, 0x002E), 0x1E5B, 0x0000 },  // r     . → ṛ
    { DEADTRANS(0x0074, 0x002E), 0x1E6D, 0x0000 },  // t     . → ṭ
    { DEADTRANS(0x004E, 0x002E), 0x1E46, 0x0000 },  // N     . → Ṇ
    { DEADTRANS(0x005A, 0x002E), 0x1E92, 0x0000 },  // Z     . → Ẓ
    { DEADTRANS(0x0048, 0x002E), 0x1E24, 0x0000 },  // H     . → Ḥ
    { DEADTRANS(0x0044, 0x002E), 0x1E0C, 0x0000 },  // D     . → Ḍ
    { DEADTRANS(0x0053, 0x002E), 0x1E62, 0x0000 },  // S     . → Ṣ
    { DEADTRANS(0x004C, 0x002E), 0x1E36, 0x0000 },  // L     . → Ḷ
    { DEADTRANS(0x0052, 0x002E), 0x1E5A, 0x0000 },  // R     . → Ṛ
    { DEADTRANS(0x0054, 0x002E), 0x1E6C, 0x0000 },  // T     . → Ṭ
    { DEADTRANS(0x0020, 0x002E), 0x002E, 0x0000 },  // space . → .
    { DEADTRANS(0x006D, 0x002E), 0x1E43, 0x0000 },  // m     . → ṃ
    { DEADTRANS(0x004D, 0x002E), 0x1E42, 0x0000 },  // M     . → Ṃ

    { 0,                         0,      0      },
};

namespace {

constexpr WCHAR baseOf(const DEADKEY& d) { return static_cast<WCHAR>(d.dwBoth & 0xFFFF); }
constexpr WCHAR deadOf(const DEADKEY& d) { return static_cast<WCHAR>(d.dwBoth >> 16); }

constexpr unsigned kRows = check::count(aDeadKey) - 1;  // without the terminator

constexpr bool terminated() {
    for (unsigned i = 0; i < kRows; ++i)
        if (aDeadKey[i].dwBoth == 0) return false;
    const DEADKEY& t = aDeadKey[kRows];
    return t.dwBoth == 0 && t.wchComposed == 0 && t.uFlags == 0;
}

// The groups stand in kDeadChars order, each in one run, all eleven present.
constexpr bool groupsInOrder() {
    unsigned g = 0;
    for (unsigned i = 0; i < kRows; ++i) {
        if (deadOf(aDeadKey[i]) == kDeadChars[g]) continue;
        if (i == 0 || ++g >= kDeadCharCount || deadOf(aDeadKey[i]) != kDeadChars[g]) return false;
    }
    return g + 1 == kDeadCharCount;
}

// Dead key then space types the dead character: one such row per group.
constexpr bool oneSpaceRowPerGroup() {
    for (unsigned g = 0; g < kDeadCharCount; ++g) {
        unsigned spaces = 0;
        for (unsigned i = 0; i < kRows; ++i) {
            const DEADKEY& d = aDeadKey[i];
            if (deadOf(d) != kDeadChars[g] || baseOf(d) != 0x0020) continue;
            if (d.wchComposed != kDeadChars[g]) return false;
            ++spaces;
        }
        if (spaces != 1) return false;
    }
    return true;
}

// Results are characters, and none is itself dead.
constexpr bool resultsAreCharacters() {
    for (unsigned i = 0; i < kRows; ++i) {
        const DEADKEY& d = aDeadKey[i];
        if (d.wchComposed == WCH_NONE || d.wchComposed == WCH_DEAD || d.wchComposed == WCH_LGTR)
            return false;
        if (d.uFlags != 0) return false;
    }
    return true;
}

// A second row for the same pair would never be reached.
constexpr bool pairsUnique() {
    for (unsigned i = 0; i < kRows; ++i)
        for (unsigned j = i + 1; j < kRows; ++j)
            if (aDeadKey[i].dwBoth == aDeadKey[j].dwBoth) return false;
    return true;
}

}  // namespace

static_assert(kRows == 201, "201 compositions before the terminator");
static_assert(terminated());
static_assert(groupsInOrder());
static_assert(oneSpaceRowPerGroup());
static_assert(resultsAreCharacters());
static_assert(pairsUnique());
